#pragma once
// What kind of device a queue ends in, read from what the scheduler already
// told about the queue (no request of its own).

#include <cups/cups.h>

// True when the queue's device is reached over IPP: its device URI has an
// ipp, ipps, ippusb, dnssd or implicitclass scheme, or the queue is a
// driverless one. Such a device checks the job's options itself and cancels
// a job whose options it does not support.
bool reachedOverIpp(const cups_dest_t* queue);
