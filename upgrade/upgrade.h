// Firmware upgrade of the SubG board from image files in the working
// directory.
#pragma once

// 1 when an image for the board is waiting.
int CheckForUpdateFile();

// Runs the whole upgrade over the serial port fd; returns when it is over.
int ProcessFWUpgrade(int fd);
