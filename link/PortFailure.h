// Why a port could not be opened or stopped working, in words an engineer can
// act on: the system's reason, and what usually fixes it on Linux.
#pragma once

#include <QString>

// The reason behind errno err for the device at path; empty when err carries
// none (0 or negative).
QString Port_FailureReason(int err, const QString& path);
