// Small probes of the host board: the Wi-Fi signal, the SD card and the
// operating-system image that tells which host board this is.
#pragma once

#include <atomic>
#include <cstdint>

// 1 on host boards that carry "/etc/OSImageVersion.txt"; only those have
// an SD card to check.
extern std::atomic<uint8_t> IsReader20;

void TestIsReader20();
int IsSDCardConnected();

// Signal level of a wireless interface in dBm, -1 without a reading.
int wl_get_signal(const char* ifname);

// What the LED word needs of the host. The probes write a file and ask the
// wireless driver, which the priority-99 listener must never wait for: a
// low-priority thread runs them on request and the listener reads the last
// results.
struct HostReadings {
    int wifiDBm;         // -1: no reading
    bool sdCardPresent;
};

HostReadings LatestHostReadings();
// Asks for fresh readings; never blocks.
void RequestHostReadings();

// The probing thread's side: true once for every burst of requests.
bool TakeHostReadingsRequest();
// Runs the probes and stores their results.
void RefreshHostReadings();
