// Resource identifiers of KeyDbWrapper.exe.
#pragma once

// Type library: resource type "TYPELIB", identifier 1.
#define IDR_TYPELIB 1
// Registry scripts, resource type "REGISTRY": the AppID entries, then the class.
#define IDR_KEYDBWRAPPER 100
#define IDR_KEYDBOBJ 102
