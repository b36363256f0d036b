// The board's reset line as sysfs shows it, "direction" and "value" files in
// a scratch directory, with the reset code pointed at it.
#pragma once

#include <fstream>
#include <string>

#include "platform/reset_line.h"
#include "support/scratch_dir.h"

class FakeResetLine {
public:
    // At rest: an input, reading high.
    FakeResetLine() {
        std::ofstream(dir_.Path() + "/direction") << "in";
        std::ofstream(dir_.Path() + "/value") << "1";
        SetResetLineDir(dir_.Path());
    }

    std::string Direction() const { return Read("direction"); }
    std::string Value() const { return Read("value"); }

private:
    std::string Read(const std::string& file) const {
        std::string word;
        std::ifstream(dir_.Path() + "/" + file) >> word;
        return word;
    }

    ScratchDir dir_{"tarnel-gpio-"};
};
