#pragma once
// The deliberate override: a file that winpe-inject --override-disk-guard puts beside the guard.

namespace autodeploy::guard {

inline constexpr wchar_t kOverrideMarkerName[] = L"autodeploy-guard-override.txt";

// True when the marker is beside this program; anything unreadable counts as no marker.
bool override_marker_present();

}  // namespace autodeploy::guard
