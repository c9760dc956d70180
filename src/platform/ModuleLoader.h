#pragma once

// Loading PKCS#11 modules as shared objects, with Windows-style error codes.

using ModuleHandle = void*;
