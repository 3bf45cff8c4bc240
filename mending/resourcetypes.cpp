// SPDX-License-Identifier: GPL-3.0-or-later
#include "resourcetypes.h"

#include <algorithm>
#include <array>

namespace mending {

namespace {

struct ResourceType
{
    quint32 id;
    const char* name;
    ClashSeverity severity;
};

// Type ids as the community's format pages give them: "Sims 4 - Packed File Types" (Sims4Tools wiki on
// GitHub), the simswiki.info pages named after each type ("Sims 4:0x034AEECB", the CAS part), the
// modthesims.info thread "Build/Buy Mode Thumbnails + Swatches" and the s4pe release notes (THUM,
// TMLT), and the tuning type ids of modders' own notes (interaction 0xE882D22F, buff 0x6017E896, trait
// 0xCB5FDDC7, snippet 0x7DF2169C, statistic 0x339BC5BD, SimData 0x545AC67A). The Sims 2's behaviour
// function (BHAV, the four letters read as a number) is from simswiki.info's "Load Order" and
// "DatabasePackedFile" pages; The Sims 3's scripts (S3SA, signed .NET assemblies that only one mod can
// replace at a time) from simswiki.info's "Sims 3:0x073FAA07". Kept sorted by id.
constexpr std::array types {
    ResourceType { 0x00B2D882, "image", ClashSeverity::Low },
    ResourceType { 0x015A1849, "CAS mesh", ClashSeverity::Medium },
    ResourceType { 0x01661233, "object model", ClashSeverity::Medium },
    ResourceType { 0x01A527DB, "sound", ClashSeverity::Low },
    ResourceType { 0x01D10F34, "object model detail levels", ClashSeverity::Medium },
    ResourceType { 0x01EEF63A, "sound", ClashSeverity::Low },
    ResourceType { 0x025ED6F4, "Sim outfit", ClashSeverity::Medium },
    ResourceType { 0x02D5DF13, "animation state machine", ClashSeverity::Medium },
    ResourceType { 0x034AEECB, "CAS part", ClashSeverity::Medium },
    ResourceType { 0x0354796A, "skin tone", ClashSeverity::Medium },
    ResourceType { 0x0355E0A6, "bone delta", ClashSeverity::Medium },
    ResourceType { 0x03B4C61D, "light", ClashSeverity::Low },
    ResourceType { 0x067CAA11, "blend geometry", ClashSeverity::Medium },
    ResourceType { 0x073FAA07, "script (S3SA)", ClashSeverity::High },
    ResourceType { 0x0C772E27, "loot tuning", ClashSeverity::High },
    ResourceType { 0x16CA6BC4, "thumbnail", ClashSeverity::Low },
    ResourceType { 0x220557DA, "string table", ClashSeverity::Medium },
    ResourceType { 0x2F7D0004, "PNG image", ClashSeverity::Low },
    ResourceType { 0x319E4F1D, "object catalog entry", ClashSeverity::Medium },
    ResourceType { 0x339BC5BD, "statistic tuning", ClashSeverity::High },
    ResourceType { 0x3453CF95, "texture", ClashSeverity::Low },
    ResourceType { 0x3C1AF1F2, "CAS part thumbnail", ClashSeverity::Low },
    ResourceType { 0x42484156, "behaviour function (BHAV)", ClashSeverity::High },
    ResourceType { 0x545AC67A, "SimData", ClashSeverity::High },
    ResourceType { 0x5B282D45, "body part thumbnail", ClashSeverity::Low },
    ResourceType { 0x6017E896, "buff tuning", ClashSeverity::High },
    ResourceType { 0x7DF2169C, "snippet tuning", ClashSeverity::High },
    ResourceType { 0xB0118C15, "thumbnail", ClashSeverity::Low },
    ResourceType { 0xC0DB5AE7, "object definition", ClashSeverity::Medium },
    ResourceType { 0xCB5FDDC7, "trait tuning", ClashSeverity::High },
    ResourceType { 0xE882D22F, "interaction tuning", ClashSeverity::High },
};

static_assert(std::is_sorted(
    types.begin(), types.end(), [](const ResourceType& a, const ResourceType& b) { return a.id < b.id; }));

const ResourceType* find(quint32 id)
{
    const auto it = std::lower_bound(types.begin(), types.end(), id,
        [](const ResourceType& type, quint32 wanted) { return type.id < wanted; });
    return it != types.end() && it->id == id ? &*it : nullptr;
}

}

QByteArray severityName(ClashSeverity severity)
{
    switch (severity) {
    case ClashSeverity::Low:
        return QByteArrayLiteral("low");
    case ClashSeverity::Medium:
        return QByteArrayLiteral("medium");
    case ClashSeverity::High:
        return QByteArrayLiteral("high");
    }
    return {};
}

QString resourceTypeName(quint32 type)
{
    if (const ResourceType* known = find(type))
        return QString::fromLatin1(known->name);
    return QStringLiteral("type 0x")
        + QString::number(type, 16).rightJustified(8, QLatin1Char('0')).toUpper();
}

ClashSeverity clashSeverity(quint32 type)
{
    const ResourceType* known = find(type);
    return known ? known->severity : ClashSeverity::Medium;
}

}
