#include "startup_logic.h"

namespace hkbh {

StartupChoice ChooseStartup(InstanceMutex mutex, bool catalogue_file_exists,
                            const std::function<bool()>& owner_gone) {
  StartupChoice choice{InstanceRole::Unguarded, CatalogueSource::Preset, false};
  if (mutex == InstanceMutex::Created) {
    choice.role = InstanceRole::Owner;
    choice.runs_refresh = true;
  } else if (mutex == InstanceMutex::AlreadyExists) {
    choice.role = InstanceRole::Follower;
  }
  if (!catalogue_file_exists) return choice;
  if (choice.role == InstanceRole::Owner) {
    choice.source = CatalogueSource::CatalogueFile;
    return choice;
  }
  for (int probe = 0; probe < kOwnerProbes; ++probe) {
    if (owner_gone && owner_gone()) {
      choice.source = CatalogueSource::CatalogueFile;
      break;
    }
  }
  return choice;
}

}  // namespace hkbh
