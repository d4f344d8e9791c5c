#pragma once
// How much room a file system has left, for the archive writer's floor.

#include <cstdint>
#include <optional>
#include <string>

#include "base/outcome.h"

/// Bytes available to this user on the file system that holds `directory` ("" is the working
/// directory); nothing where it cannot be told.
std::optional<uint64_t> FreeBytes(const std::string& directory);

/// True where `failure` came of a full disk (or a quota reached): worth trying again later.
bool IsOutOfSpace(const Outcome& failure);
