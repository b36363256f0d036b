#include "platform/host_probes.h"

#include <linux/wireless.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include "platform/log.h"
#include <unistd.h>

#include <cstdio>
#include <cstring>

std::atomic<uint8_t> IsReader20{0};

namespace {
constexpr const char* kOSImageVersionPath = "/etc/OSImageVersion.txt";
constexpr const char* kSDCardDevice = "/dev/mmcblk0p1";
constexpr const char* kSDCardProbeFile = "/home/DummyFile.txt";
constexpr const char* kWifiInterface = "wlan0";

std::atomic<int> WifiDBm{-1};
std::atomic<bool> SDCardPresent{true};
std::atomic<bool> ReadingsRequested{false};

bool Exists(const char* path) {
    struct stat st;
    return stat(path, &st) == 0;
}
}  // namespace

void TestIsReader20() {
    if (Exists(kOSImageVersionPath)) {
        IsReader20 = 1;
    } else {
        LogLine(LOG_DEBUG, "TestIsReader20: false");
    }
}

int IsSDCardConnected() {
    if (!IsReader20) return 1;
    if (Exists(kSDCardDevice)) {
        FILE* probe = std::fopen(kSDCardProbeFile, "wb");
        if (probe) {
            std::fclose(probe);
            std::remove(kSDCardProbeFile);
            return 1;
        }
    }
    LogLine(LOG_ERR, "IsSDCardConnected: SD card is not connected");
    return 0;
}

int wl_get_signal(const char* ifname) {
    int sock = socket(AF_INET, SOCK_DGRAM, 0);
    if (sock < 0) return -1;
    iw_statistics stats{};
    iwreq request{};
    std::strncpy(request.ifr_name, ifname, IFNAMSIZ - 1);
    request.u.data.pointer = &stats;
    request.u.data.length = sizeof(stats);
    request.u.data.flags = 1;  // clear the "updated" marks
    int rc = ioctl(sock, SIOCGIWSTATS, &request);
    close(sock);
    if (rc < 0) return -1;
    return static_cast<int8_t>(stats.qual.level);
}

HostReadings LatestHostReadings() { return {WifiDBm.load(), SDCardPresent.load()}; }

void RequestHostReadings() { ReadingsRequested = true; }

bool TakeHostReadingsRequest() { return ReadingsRequested.exchange(false); }

void RefreshHostReadings() {
    WifiDBm = wl_get_signal(kWifiInterface);
    SDCardPresent = IsSDCardConnected() == 1;
}
