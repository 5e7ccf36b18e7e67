#include "wipe_decision.hpp"

namespace autodeploy::guard {

namespace {

Refusal refusal_for(const DiskProbe& probe) {
    const auto* facts = std::get_if<DiskFacts>(&probe);
    if (facts == nullptr) return Refusal::CannotBeChecked;
    if (facts->holds_boot_medium) return Refusal::BootMedium;
    switch (facts->bus_type) {
    case kBusUsb:
    case kBusSd:
    case kBusMmc:
    case kBus1394: return Refusal::Bus;
    default: break;
    }
    if (facts->removable_media) return Refusal::RemovableMedia;
    if (facts->size_bytes < kMinimumDiskBytes) return Refusal::TooSmall;
    return Refusal::None;
}

}  // namespace

Verdict decide(const DiskProbe& probe, bool override_marker) {
    const Refusal refusal = refusal_for(probe);
    return {refusal == Refusal::None || (override_marker && refusal != Refusal::BootMedium), refusal};
}

}  // namespace autodeploy::guard
