// Where requests to delete a file at the next start land: Wininit.ini in the Windows folder and
// the system's pending renames. Tests that make such requests put both back as they found them.
#pragma once

#include "support/RegistryProbe.h"

#include <string>

class SavedBootRequests {
public:
    SavedBootRequests();
    ~SavedBootRequests();
    SavedBootRequests(const SavedBootRequests&) = delete;
    SavedBootRequests& operator=(const SavedBootRequests&) = delete;
    // True when neither place changed since construction.
    bool Untouched() const;

private:
    bool WininitExisted;
    std::string Wininit;
    RegistryValue Pending;
};

// Wininit.ini of the Windows folder; "" when there is none.
std::string WininitText();
// True when the system will delete path at the next start.
bool IsPendingDeletion(const std::string& path);
