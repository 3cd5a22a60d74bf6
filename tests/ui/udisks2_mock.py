'''A stand-in for UDisks2 in the desktop application's tests: one block device
whose OpenForBackup hands out a read-only descriptor of a backing file.

Parameters: device (the /dev path it answers for), backing (the file to open).
'''
import os

import dbus

BUS_NAME = 'org.freedesktop.UDisks2'
MAIN_OBJ = '/org/freedesktop/UDisks2/Manager'
MAIN_IFACE = 'org.freedesktop.UDisks2.Manager'
SYSTEM_BUS = True


def load(mock, parameters):
    device = parameters['device']
    backing = parameters['backing']
    block = '/org/freedesktop/UDisks2/block_devices/' + os.path.basename(device)
    mock.AddMethod(MAIN_IFACE, 'ResolveDevice', 'a{sv}a{sv}', 'ao',
                   'ret = [dbus.ObjectPath("%s")] if str(args[0].get("path", "")) == "%s" else []'
                   % (block, device))
    mock.AddObject(block, 'org.freedesktop.UDisks2.Block',
                   {'Device': dbus.ByteArray(device.encode() + b'\0')},
                   [('OpenForBackup', 'a{sv}', 'h',
                     'ret = dbus.types.UnixFd(__import__("os").open("%s", __import__("os").O_RDONLY))' % backing)])
