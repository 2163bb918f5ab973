#pragma once
// The print path's link to the CUPS scheduler: one bounded connection (see
// printer/cups_connection.h), opened by the first question and kept for the
// second, and what the scheduler said about the queue, so that a scheduler
// that did not answer the resolution lookup is not asked again for the job.

#include <memory>

#include "instruction/base.h"

std::unique_ptr<PrinterLink> cupsLink();
