// The subcommands of vorl2547-ctl. Each returns the process's exit status.
#pragma once

#include <string>
#include <vector>

#include "client/client.h"

// 0: done (verify: a match); 1: refused, not enrolled or no match; 2: an
// error (bus, daemon, permission, sensor, usage).
inline constexpr int EXIT_NO = 1;
inline constexpr int EXIT_ERROR = 2;
inline constexpr int EXIT_USAGE = 2;

using Args = std::vector<std::string>;

// The options a command takes after its name.
struct Options {
    std::string finger;   // verify --finger NAME
    bool anyUser = false; // enroll --any-user
};

int cmdStatus(vlclient::Connection &conn, const Args &args, const Options &opts);
int cmdList(vlclient::Connection &conn, const Args &args, const Options &opts);
int cmdEnroll(vlclient::Connection &conn, const Args &args, const Options &opts);
int cmdVerify(vlclient::Connection &conn, const Args &args, const Options &opts);
int cmdDelete(vlclient::Connection &conn, const Args &args, const Options &opts);
int cmdDeleteAll(vlclient::Connection &conn, const Args &args, const Options &opts);
int cmdRename(vlclient::Connection &conn, const Args &args, const Options &opts);

// Prints err for a person and returns the exit status it deserves.
int reportError(const vlclient::Error &err);
// Prints why a command refuses before calling the daemon; returns EXIT_NO.
int refuse(const std::string &why);
// USER's fingers into `fingers`; on an error prints it and returns false
// with `exitStatus` set.
bool fingersOf(vlclient::Connection &conn, const std::string &user, std::vector<std::string> &fingers, int &exitStatus);
// The same, refusing a user who has none: there is nothing to act on.
bool someFingersOf(vlclient::Connection &conn, const std::string &user, std::vector<std::string> &fingers,
                   int &exitStatus);
bool contains(const std::vector<std::string> &names, const std::string &name);
