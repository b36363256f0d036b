// Builds the private world the daemon runs in: its own mount and network
// namespaces, where the fixed paths it uses lead to stand-ins. Nothing done
// here is seen outside, and all of it goes when the last process inside ends.
#pragma once

#include <string>

struct Pty {
    int master = -1;
    int slave = -1;  // held for the whole run, so the master never reads EIO
    std::string slaveName;
};

// Mount and network namespaces of our own; every mount private from then on.
void EnterPrivateNamespaces();
void BringUpLoopback();
// The slave starts raw at 115200 baud, like an idle UART.
Pty OpenPty();
// A fresh /dev, built on a tmpfs at staging (an empty directory) and then
// moved over /dev; its ttyS0 is the pty slave.
void BuildDev(const std::string& staging, const std::string& ptySlave);
// /sys/class/gpio/gpio109/{direction,value} as plain files.
void FakeGpio();
void BindHome(const std::string& homeDir);
// runDir over /run, which /var/run names: the reader's RAM directory, where
// the daemon writes its status, seen from outside.
void BindRun(const std::string& runDir);
// A tmpfs of kb kilobytes over dir, so that a test can fill it.
void MountSmallDir(const std::string& dir, int kb);
