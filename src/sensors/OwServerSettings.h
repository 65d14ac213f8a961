#pragma once

#include <QString>

// The program as an owserver ([OwServer] of Kalvex.ini): other 1-Wire software reads the
// sensors over the owserver protocol. Plain values under the names of their keys.
struct OwServerSettings
{
    bool Active = false;
    int Port = 4304;
    // One address to listen on ("127.0.0.1" keeps it on this machine); empty: every interface.
    QString Address;

    bool operator==(const OwServerSettings &) const = default;
};
