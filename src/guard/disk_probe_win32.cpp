#include "disk_probe.hpp"

#include "support/win32.hpp"
#include <winioctl.h>

#include <algorithm>
#include <cstddef>
#include <cstring>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "support/unique_handle.hpp"

namespace autodeploy::guard {

static_assert(kBusUsb == BusTypeUsb && kBus1394 == BusType1394 && kBusSd == BusTypeSd && kBusMmc == BusTypeMmc);

namespace {

constexpr DWORD kDisk0 = 0;

// A FindFirstVolumeW search, closed with FindVolumeClose.
class VolumeSearch {
public:
    explicit VolumeSearch(HANDLE handle) : handle_(handle) {}
    VolumeSearch(const VolumeSearch&) = delete;
    VolumeSearch& operator=(const VolumeSearch&) = delete;
    ~VolumeSearch() {
        if (handle_ != INVALID_HANDLE_VALUE) FindVolumeClose(handle_);
    }
    [[nodiscard]] HANDLE get() const { return handle_; }

private:
    HANDLE handle_;
};

// ERROR_SUCCESS or the system error code of a DeviceIoControl that fills `out`, grown (twice at
// most) when `needed` reads from the answer that the whole of it takes more than `out` holds.
template <class Needed>
DWORD query(HANDLE device, DWORD code, std::span<std::byte> in, std::vector<std::byte>& out, Needed needed) {
    for (int attempt = 0;; ++attempt) {
        DWORD returned = 0;
        const BOOL ok = DeviceIoControl(device, code, in.data(), static_cast<DWORD>(in.size()), out.data(),
                                        static_cast<DWORD>(out.size()), &returned, nullptr);
        const DWORD error = ok ? ERROR_SUCCESS : GetLastError();
        if (!ok && error != ERROR_MORE_DATA && error != ERROR_INSUFFICIENT_BUFFER) return error;
        const std::size_t wanted = needed(out, ok ? returned : out.size());
        if (wanted <= out.size() || attempt == 2) {
            out.resize(ok ? returned : out.size());
            return ok ? ERROR_SUCCESS : error;
        }
        out.assign(wanted, std::byte{0});
    }
}

// STORAGE_DEVICE_DESCRIPTOR: bus type, removable media, vendor and product (strings behind it).
DWORD read_device_properties(HANDLE disk, DiskFacts& facts) {
    STORAGE_PROPERTY_QUERY request{};
    request.PropertyId = StorageDeviceProperty;
    request.QueryType = PropertyStandardQuery;
    std::vector<std::byte> answer(sizeof(STORAGE_DEVICE_DESCRIPTOR) + 512);
    // The header's Size is what the whole descriptor with its strings needs.
    const DWORD error = query(disk, IOCTL_STORAGE_QUERY_PROPERTY, std::as_writable_bytes(std::span{&request, 1}),
                              answer, [](const std::vector<std::byte>& bytes, std::size_t got) -> std::size_t {
                                  if (got < sizeof(STORAGE_DESCRIPTOR_HEADER)) return 0;
                                  return reinterpret_cast<const STORAGE_DESCRIPTOR_HEADER*>(bytes.data())->Size;
                              });
    if (error != ERROR_SUCCESS) return error;
    if (answer.size() < offsetof(STORAGE_DEVICE_DESCRIPTOR, RawPropertiesLength)) return ERROR_INVALID_DATA;
    STORAGE_DEVICE_DESCRIPTOR descriptor{};
    std::memcpy(&descriptor, answer.data(), std::min(answer.size(), sizeof descriptor));
    facts.bus_type = static_cast<std::uint32_t>(descriptor.BusType);
    facts.removable_media = descriptor.RemovableMedia != FALSE;
    facts.vendor = descriptor_text(answer, descriptor.VendorIdOffset);
    facts.product = descriptor_text(answer, descriptor.ProductIdOffset);
    return ERROR_SUCCESS;
}

// Whether any of the volume's extents lies on disk 0.
DWORD volume_on_disk0(const std::wstring& volume, bool& on_disk0) {
    // The volume's device is its name without the trailing backslash; no access is needed to ask.
    const std::wstring device = volume.substr(0, volume.size() - 1);
    const HANDLE raw = CreateFileW(device.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0,
                                   nullptr);
    const DWORD open_error = GetLastError();
    const UniqueHandle handle{raw};
    if (!handle) return open_error;
    std::vector<std::byte> answer(sizeof(VOLUME_DISK_EXTENTS));
    const DWORD error = query(handle.get(), IOCTL_VOLUME_GET_VOLUME_DISK_EXTENTS, {}, answer,
                              [](const std::vector<std::byte>& bytes, std::size_t) -> std::size_t {
                                  const auto* extents = reinterpret_cast<const VOLUME_DISK_EXTENTS*>(bytes.data());
                                  return offsetof(VOLUME_DISK_EXTENTS, Extents) +
                                         std::size_t{extents->NumberOfDiskExtents} * sizeof(DISK_EXTENT);
                              });
    if (error != ERROR_SUCCESS) return error;
    const auto* extents = reinterpret_cast<const VOLUME_DISK_EXTENTS*>(answer.data());
    on_disk0 = false;
    for (DWORD i = 0; i < extents->NumberOfDiskExtents; ++i)
        on_disk0 = on_disk0 || extents->Extents[i].DiskNumber == kDisk0;
    return ERROR_SUCCESS;
}

// The medium WinPE booted from is found by what it holds: the volume with \sources\boot.wim, the
// image every WinPE medium boots (copype's and Windows setup's alike); wimboot and PXE boots have
// none. The boot configuration is not read: WinPE's names its device only as "[boot]" with RAM disk
// options, which no plain call maps to a disk. CD and DVD volumes are passed over (never a disk).
std::optional<ProbeFailure> find_boot_medium_on_disk0(bool& found) {
    found = false;
    std::wstring volume(MAX_PATH + 1, L'\0');
    const VolumeSearch search{FindFirstVolumeW(volume.data(), static_cast<DWORD>(volume.size()))};
    if (search.get() == INVALID_HANDLE_VALUE) return ProbeFailure{ProbeStep::ListVolumes, GetLastError()};
    for (;;) {
        const std::wstring name = volume.substr(0, volume.find(L'\0'));
        const DWORD attributes = GetFileAttributesW((name + L"sources\\boot.wim").c_str());
        if (GetDriveTypeW(name.c_str()) != DRIVE_CDROM && attributes != INVALID_FILE_ATTRIBUTES &&
            (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0) {
            bool on_disk0 = false;
            if (const DWORD error = volume_on_disk0(name, on_disk0); error != ERROR_SUCCESS) {
                return ProbeFailure{ProbeStep::VolumeDisks, error};
            }
            found = found || on_disk0;
        }
        if (!FindNextVolumeW(search.get(), volume.data(), static_cast<DWORD>(volume.size()))) {
            const DWORD error = GetLastError();
            if (error == ERROR_NO_MORE_FILES) return std::nullopt;
            return ProbeFailure{ProbeStep::ListVolumes, error};
        }
    }
}

}  // namespace

DiskProbe probe_disk0() {
    // An empty card reader or drive must not stop the PC at a "no disk" dialog.
    SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOOPENFILEERRORBOX);
    // Read access only (IOCTL_DISK_GET_LENGTH_INFO needs it); shared, so nothing else is locked out.
    const HANDLE raw = CreateFileW(L"\\\\.\\PhysicalDrive0", GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                   OPEN_EXISTING, 0, nullptr);
    const DWORD open_error = GetLastError();
    const UniqueHandle disk{raw};
    if (!disk) return ProbeFailure{ProbeStep::OpenDisk, open_error};

    DiskFacts facts{kDisk0, 0, false, {}, {}, 0, false};
    if (const DWORD error = read_device_properties(disk.get(), facts); error != ERROR_SUCCESS) {
        return ProbeFailure{ProbeStep::DeviceProperties, error};
    }
    GET_LENGTH_INFORMATION length{};
    DWORD returned = 0;
    if (!DeviceIoControl(disk.get(), IOCTL_DISK_GET_LENGTH_INFO, nullptr, 0, &length, sizeof length, &returned,
                         nullptr)) {
        return ProbeFailure{ProbeStep::Size, GetLastError()};
    }
    facts.size_bytes = static_cast<std::uint64_t>(length.Length.QuadPart);
    if (auto failure = find_boot_medium_on_disk0(facts.holds_boot_medium)) return *failure;
    return facts;
}

}  // namespace autodeploy::guard
