package com.durvo.ufe.fsutil.tool;

import com.durvo.ufe.fsutil.ChildFile;

/** A file as the tool shows it: the name it prints (for a path the user named, that path) and its attributes. */
record Entry(byte[] name, ChildFile file) {

    Entry named(byte[] newName) {
        return new Entry(newName, file);
    }

    boolean isDevice() {
        ChildFile.Type type = file.type();
        return type == ChildFile.Type.CHAR_DEVICE || type == ChildFile.Type.BLOCK_DEVICE;
    }
}
