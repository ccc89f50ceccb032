#pragma once

// The run's last steps. Neither reports anything: a value or file that is
// already gone, a key that cannot be opened or a locked file is left as it is.

// Removes "ZorvikSoftwareUpdate" from the current user's RunOnce key.
void RemoveRunOnceValue();

// Deletes the session file in the roaming application-data folder; the
// ZorvikUpdate folder stays. A folder that is not a full path deletes nothing.
void DeleteSessionFile();
