#pragma once

// The stand-in's own, not the contract's (a framework's declarations may carry no attribute):
// symbols of the host framework keep default visibility, so that the plugin, built with hidden
// visibility, refers to them and the host resolves them at load time.
#define ZEL_HOST_API __attribute__((visibility("default")))
