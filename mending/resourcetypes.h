// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QByteArray>
#include <QString>

// The kinds of resources inside packages, named for players, and how much a clash over each matters.
namespace mending {

// How much it matters that two mods hold the same resource.
enum class ClashSeverity : quint8 {
    Low, // what a thing looks like in a catalog: a thumbnail, an icon, a sound
    Medium, // a piece of content replaced by another: a CAS part, an object, a mesh, a text
    High, // how the game behaves: tuning, the data beside it, scripts
};

// "low", "medium", "high".
QByteArray severityName(ClashSeverity severity);

// The player's name of a resource type ("interaction tuning", "CAS part"), or "type 0x1234ABCD"
// for a type not in the table.
QString resourceTypeName(quint32 type);

// How much a clash over a resource of this type matters; Medium for a type not in the table, since
// nothing says it is harmless.
ClashSeverity clashSeverity(quint32 type);

}
