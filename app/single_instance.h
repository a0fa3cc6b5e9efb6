#pragma once
// Refuses a second running instance of the tool. One implementation per
// platform, each in its own file.

#include <string>

// Takes the machine-wide lock named `key` for the rest of the process's life.
// False when another process holds it.
bool take_instance_lock(const std::string& key);
