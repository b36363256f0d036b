// Commands the RTC sends to the reader.
#pragma once

// Acts on the command value of an RtcCommandToReader: the two survey
// commands become SubG requests; the others are not acted on here.
void HandleRtcCommand(unsigned int command);
