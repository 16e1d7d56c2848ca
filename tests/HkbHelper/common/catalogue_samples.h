// Catalogues built in memory for the tests, the helper program and the
// benchmark.
#pragma once

#include "app_name_list.h"

namespace hkbhtest {

// A small catalogue that uses every attribute the file knows: plain and
// reserved packages, a package without apps, alternative names, Japanese
// names, characters that XML escapes, and desktop apps of every flag.
void BuildSampleCatalogue(CHkbhAppNameList& list);

// `packages` Store packages with `apps_per_package` apps each and `desktop`
// desktop apps, with names of realistic length.
void BuildLargeCatalogue(CHkbhAppNameList& list, int packages, int apps_per_package, int desktop);

}  // namespace hkbhtest
