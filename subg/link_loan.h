// Lending the serial port to another thread for a synchronous exchange (the
// board's firmware upgrade). While the port is lent the listener sits in its
// housekeeping: it gathers nothing, writes nothing and its watchdogs sleep.
#pragma once

// The borrower's side. Asks the listener for the port and waits at most
// waitMicros for it to stop; true when the port is now the caller's, who
// must give it back with ReturnSerialLink. False when another loan is under
// way or the listener did not come round in time (nothing was lent).
bool BorrowSerialLink(int waitMicros);
void ReturnSerialLink();

// The listener's side, at a point of its housekeeping where it holds no
// lock: when a borrower is waiting and the gathered bytes could be handed
// on, lends the port with its gathering buffer, stops there until both come
// back and returns true; otherwise returns false at once.
bool LendSerialLinkIfAsked();
