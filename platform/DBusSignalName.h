#pragma once

#include <QString>
#include <optional>
#include <string_view>

// A notification name as a D-Bus signal: "com.lumetra.visualizer.newFrame" is member `newFrame`
// of interface `com.lumetra.visualizer`.
struct DBusSignalName {
    QString interface;
    QString member;

    // None when the name has no interface part or no member part.
    static std::optional<DBusSignalName> parse(std::string_view name) {
        const auto dot = name.rfind('.');
        if (dot == std::string_view::npos || dot == 0 || dot + 1 == name.size())
            return std::nullopt;
        return DBusSignalName{QString::fromUtf8(name.substr(0, dot)),
                              QString::fromUtf8(name.substr(dot + 1))};
    }
};
