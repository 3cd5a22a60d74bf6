// Reading a disk without running the window as root: open it directly when
// we may (root, the disk group, a udev rule), else ask UDisks2 for a
// read-only descriptor (polkit asks the user), which the storage layer then
// uses for every open of that disk.
#pragma once

#include <QDBusConnection>
#include <QString>
#include <filesystem>

namespace kestrel::ui {

// A read-only descriptor of device from UDisks2's OpenForBackup on bus, or -1
// with why in *error (an empty reason when the user declined).
int OpenThroughUdisks(const QDBusConnection& bus, const QString& device, QString* error);

// Makes disk devicePath readable for the scan and image jobs. Returns true
// when a direct open works or UDisks2 granted a descriptor; otherwise false
// and a sentence naming the device and the reason in *error.
bool EnsureDiskReadable(const std::filesystem::path& devicePath, QString* error,
                        const QDBusConnection& bus = QDBusConnection::systemBus());

}  // namespace kestrel::ui
