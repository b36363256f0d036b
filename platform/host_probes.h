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
