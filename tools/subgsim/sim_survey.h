// The board's channel scan: while it runs, one RSSI reading after another
// as set-frequency replies, 30 per channel of its table and radio, the
// radios taking turns, channel after channel; one pass, then it stops.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <vector>

constexpr int kSimReadingsPerChannel = 30;
constexpr uint8_t kSimBothRadios = 2;

// The level the simulated board measures: -110 dBm plus the channel,
// varying a little from reading to reading.
int SimSurveyDbm(size_t channel, int reading);

class SimSurvey {
public:
    // radios: 0 or 1 for that radio alone, 2 for both.
    void Start(const std::vector<float>& table, uint8_t radios);
    void Stop() { running_ = false; }
    bool Running() const { return running_; }

    // The data of the next reading's reply: measured, radio, RSSI byte,
    // frequency. The scan stops after the last one.
    std::array<uint8_t, 7> NextReading();

private:
    std::vector<float> table_;
    std::vector<uint8_t> radios_;
    size_t channel_ = 0;
    size_t step_ = 0;  // within the channel: readings of all radios
    bool running_ = false;
};
