#pragma once

#include <string>

// Whether CUPS knows a destination of exactly this name. Any destination that
// exists counts as connected; its state only changes what is logged.
bool printerIsConnected(std::string printerName);
