#pragma once

// The run's last steps. Neither reports anything nor raises: a value or file
// that is already gone, a key that cannot be opened, a locked file or no
// memory for the file's path leaves things as they are.

// Removes "ZorvikSoftwareUpdate" from the current user's RunOnce key.
void RemoveRunOnceValue() noexcept;

// Deletes the session file in the roaming application-data folder; the
// ZorvikUpdate folder stays. A folder that is not a full path deletes nothing.
void DeleteSessionFile() noexcept;
