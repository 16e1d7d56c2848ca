// The part a process of the hosting executable takes in the catalogue's
// upkeep, and the file it loads the catalogue from, chosen at initialization.
// No Windows header: this builds natively for the unit tests as well.
#pragma once

#include <functional>

namespace hkbh {

// What creating the instance mutex gave this process.
enum class InstanceMutex {
  Created,        // this process made it: the first of its name
  AlreadyExists,  // another process of the name holds it
  Failed,         // it could not be made at all
};

// The owner monitors: it runs the refresh thread, which keeps the catalogue
// up to date and saves it. A follower (another process holds the mutex) and
// an unguarded process (no mutex) only read.
enum class InstanceRole { Owner, Follower, Unguarded };

// Where the catalogue is loaded from.
enum class CatalogueSource {
  CatalogueFile,  // "AppNameList.xml" in the user's catalogue folder
  Preset,         // the preset file beside the executable
};

// How many times a reader looks whether the owner still holds its role.
inline constexpr int kOwnerProbes = 5;

struct StartupChoice {
  InstanceRole role;
  CatalogueSource source;
  bool runs_refresh;  // the refresh thread is to be started
};

// Chooses role and file. Without a catalogue file (no catalogue folder, or
// no file in it yet) the preset serves. The owner loads the catalogue file.
// A reader gives the owner a moment to finish its first pass and save:
// `owner_gone` (which waits a little itself when the owner is still there)
// is asked up to kOwnerProbes times, until it answers true; the reader then
// loads the catalogue file, or the preset when the owner is still busy.
StartupChoice ChooseStartup(InstanceMutex mutex, bool catalogue_file_exists,
                            const std::function<bool()>& owner_gone);

}  // namespace hkbh
