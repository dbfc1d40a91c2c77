#pragma once
// The classes a keyed archive of the networking classes may hold: connection and HTTP request
// operations of every class in the family, clients, and the requests, responses and errors inside
// them. Hand it to os::KeyedUnarchiver.
#include "os/store/KeyedArchive.h"

os::ArchiveClassRegistry TLNetworkingArchiveClasses();
