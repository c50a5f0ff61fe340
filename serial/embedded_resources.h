#pragma once
// Binary resources built into the program, found by name: what FindResource, LoadResource and
// LockResource give on the original platform. A module is a list of named resources; the
// program's own module holds the message tables generated from resources/ at build time.

#include <cstddef>
#include <span>
#include <string_view>

struct EmbeddedResource {
    const char* Name;
    const unsigned char* Data; // null: the resource is listed but cannot be loaded
    std::size_t Size;
};

using TResourceModule = std::span<const EmbeddedResource>;

// The program's own resources (generated).
TResourceModule ProgramResources();

// The resource of that name (matched regardless of case, as resource names are), or null.
const EmbeddedResource* FindEmbeddedResource(TResourceModule module, std::string_view name);
