// The subcommands of vorl2547-ctl. Each returns the process's exit status.
#pragma once

#include <string>
#include <vector>

#include "client/client.h"

// 0: done (verify: a match); 1: refused or no match; 2: an error.
inline constexpr int EXIT_NO = 1;
inline constexpr int EXIT_ERROR = 2;
inline constexpr int EXIT_USAGE = 2;

using Args = std::vector<std::string>;

int cmdStatus(vlclient::Connection &conn, const Args &args);
int cmdList(vlclient::Connection &conn, const Args &args);
int cmdEnroll(vlclient::Connection &conn, const Args &args);
int cmdVerify(vlclient::Connection &conn, const Args &args);
int cmdDelete(vlclient::Connection &conn, const Args &args);
int cmdDeleteAll(vlclient::Connection &conn, const Args &args);
int cmdRename(vlclient::Connection &conn, const Args &args);

// Prints err for a person and returns the exit status it deserves.
int reportError(const vlclient::Error &err);
