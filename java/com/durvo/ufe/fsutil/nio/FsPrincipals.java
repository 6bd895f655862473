package com.durvo.ufe.fsutil.nio;

import com.durvo.ufe.fsutil.FileNames;
import com.durvo.ufe.fsutil.internal.natives.NativeErrno;
import com.durvo.ufe.fsutil.internal.natives.Natives;
import java.io.IOException;
import java.nio.charset.StandardCharsets;
import java.nio.file.attribute.GroupPrincipal;
import java.nio.file.attribute.UserPrincipal;
import java.nio.file.attribute.UserPrincipalLookupService;
import java.nio.file.attribute.UserPrincipalNotFoundException;
import java.util.Objects;

/** Users and groups: owners of files, looked up by name or number in the system's user database. */
final class FsPrincipals {
    static final UserPrincipalLookupService LOOKUP = new UserPrincipalLookupService() {
        @Override
        public UserPrincipal lookupPrincipalByName(String name) throws IOException {
            return principal(name, false);
        }

        @Override
        public GroupPrincipal lookupPrincipalByGroupName(String group) throws IOException {
            return (GroupPrincipal) principal(group, true);
        }
    };

    private FsPrincipals() {
    }

    /**
     * A user or group: its id, and its name from the system's database where it has one (looked up when asked).
     * Only a group is a {@link GroupPrincipal}, as with the JDK's provider, where code tells the two apart so.
     */
    static class Principal implements UserPrincipal {
        final int id;
        final boolean group;
        private volatile String name;

        Principal(int id, boolean group) {
            this.id = id;
            this.group = group;
        }

        @Override
        public String getName() {
            String n = name;
            if (n == null) {
                try {
                    byte[] b = Natives.userName(id, group);
                    n = b != null ? FileNames.fromBytes(b) : Integer.toUnsignedString(id);
                } catch (NativeErrno e) {
                    n = Integer.toUnsignedString(id);
                }
                name = n;
            }
            return n;
        }

        @Override
        public boolean equals(Object o) {
            return o instanceof Principal && ((Principal) o).id == id && ((Principal) o).group == group;
        }

        @Override
        public int hashCode() {
            return id ^ (group ? 0x5555 : 0);
        }

        @Override
        public String toString() {
            return getName();
        }
    }

    static final class Group extends Principal implements GroupPrincipal {
        Group(int id) {
            super(id, true);
        }
    }

    /** By name, else by number as the default provider takes one. */
    private static Principal principal(String name, boolean group) throws IOException {
        Objects.requireNonNull(name, "name");
        int id;
        try {
            id = Natives.userId(name.getBytes(StandardCharsets.UTF_8), group);
        } catch (NativeErrno e) {
            throw e.withoutFile();
        }
        if (id == -1) {
            try {
                id = Integer.parseUnsignedInt(name);
            } catch (NumberFormatException e) {
                throw new UserPrincipalNotFoundException(name);
            }
        }
        return group ? new Group(id) : new Principal(id, false);
    }

    /** The id of a principal of this library; a group's only where {@code group}. */
    static int idOf(Object principal, boolean group) {
        if (!(principal instanceof Principal) || ((Principal) principal).group && !group) {
            throw new java.nio.file.ProviderMismatchException((group ? "a group" : "a user or group")
                    + " of the fsstat: file system's lookup service is needed, not " + principal);
        }
        return ((Principal) principal).id;
    }
}
