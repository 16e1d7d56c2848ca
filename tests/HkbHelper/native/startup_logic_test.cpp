// The initialization's plain decision: which process runs the refresh, which
// file each loads, and how long a reader waits for the owner's first pass.
#include <gtest/gtest.h>

#include "startup_logic.h"

namespace {

using hkbh::CatalogueSource;
using hkbh::InstanceMutex;
using hkbh::InstanceRole;

TEST(Startup, RoleFileAndWaitForEveryMutexOutcome) {
  constexpr int kNever = 0;  // the owner keeps its role through every probe
  struct Case {
    const char* what;
    InstanceMutex mutex;
    bool file;
    int gone_at;  // the probe (1-based) that first finds the owner gone
    InstanceRole role;
    CatalogueSource source;
    bool refresh;
    int probes;  // how many times the owner was looked for
  } const cases[] = {
      {"owner, file", InstanceMutex::Created, true, 1, InstanceRole::Owner, CatalogueSource::CatalogueFile,
       true, 0},
      {"owner, no file", InstanceMutex::Created, false, 1, InstanceRole::Owner, CatalogueSource::Preset, true,
       0},
      {"follower, no file", InstanceMutex::AlreadyExists, false, 1, InstanceRole::Follower,
       CatalogueSource::Preset, false, 0},
      {"follower, owner already gone", InstanceMutex::AlreadyExists, true, 1, InstanceRole::Follower,
       CatalogueSource::CatalogueFile, false, 1},
      {"follower, owner gone at the last look", InstanceMutex::AlreadyExists, true, hkbh::kOwnerProbes,
       InstanceRole::Follower, CatalogueSource::CatalogueFile, false, hkbh::kOwnerProbes},
      {"follower, owner gone one look too late", InstanceMutex::AlreadyExists, true, hkbh::kOwnerProbes + 1,
       InstanceRole::Follower, CatalogueSource::Preset, false, hkbh::kOwnerProbes},
      {"follower, owner busy", InstanceMutex::AlreadyExists, true, kNever, InstanceRole::Follower,
       CatalogueSource::Preset, false, hkbh::kOwnerProbes},
      {"unguarded, no file", InstanceMutex::Failed, false, 1, InstanceRole::Unguarded,
       CatalogueSource::Preset, false, 0},
      {"unguarded, no owner", InstanceMutex::Failed, true, 1, InstanceRole::Unguarded,
       CatalogueSource::CatalogueFile, false, 1},
      {"unguarded, owner busy", InstanceMutex::Failed, true, kNever, InstanceRole::Unguarded,
       CatalogueSource::Preset, false, hkbh::kOwnerProbes},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    int probes = 0;
    const hkbh::StartupChoice choice = hkbh::ChooseStartup(c.mutex, c.file, [&] {
      ++probes;
      return c.gone_at != kNever && probes >= c.gone_at;
    });
    EXPECT_EQ(choice.role, c.role);
    EXPECT_EQ(choice.source, c.source);
    EXPECT_EQ(choice.runs_refresh, c.refresh);
    EXPECT_EQ(probes, c.probes);
  }
}

}  // namespace
