// Test double of the log channel: keeps every posted line in memory.
#pragma once

#include <string>
#include <vector>

std::vector<std::string> loggedLines();
bool wasLogged(const std::string &line);
void clearLoggedLines();
