// The natives of the Java API's listings (class Natives): directory listing in batches,
// names and paths through the library's codec, and file-system statistics.
// Unlike the natives of FolderIteratorNix these read many entries per call,
// examine each entry relative to the open directory, cache what they look up
// and report failures as errno values for the Java side to translate.
#include "JniUtil.h"
#include "Internal.h"

#include <dirent.h>
#include <fcntl.h>
#include <limits.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <new>

using fsstat::LocalRef;
using fsstat::MallocPtr;
using fsstat::widen;

namespace {

// An entry of a batch (see NativeConstants.java).
constexpr int kEntryLongs = com_durvo_ufe_fsutil_internal_natives_NativeConstants_ENTRY_LONGS;
constexpr int kSlotMountId = com_durvo_ufe_fsutil_internal_natives_NativeConstants_MOUNT_ID;
constexpr int kSlotHave = com_durvo_ufe_fsutil_internal_natives_NativeConstants_HAVE;
constexpr int kSlotError = com_durvo_ufe_fsutil_internal_natives_NativeConstants_ERROR;
constexpr int kSlotNameLength = com_durvo_ufe_fsutil_internal_natives_NativeConstants_NAME_LENGTH;
static_assert(com_durvo_ufe_fsutil_internal_natives_NativeConstants_BTIME == fsstat::kStatLongs && kSlotMountId == fsstat::kStatLongs + 2 &&
                  kSlotNameLength == kEntryLongs - 1,
              "statxEntry writes the creation time after the stat values, then the mount id");
constexpr int kType = com_durvo_ufe_fsutil_internal_natives_NativeConstants_TYPE;
constexpr int kMode = com_durvo_ufe_fsutil_internal_natives_NativeConstants_MODE;
constexpr int kNlink = com_durvo_ufe_fsutil_internal_natives_NativeConstants_NLINK;
constexpr int kUid = com_durvo_ufe_fsutil_internal_natives_NativeConstants_UID;
constexpr int kGid = com_durvo_ufe_fsutil_internal_natives_NativeConstants_GID;
constexpr int kAtime = com_durvo_ufe_fsutil_internal_natives_NativeConstants_ATIME;
constexpr int kMtime = com_durvo_ufe_fsutil_internal_natives_NativeConstants_MTIME;
constexpr int kCtime = com_durvo_ufe_fsutil_internal_natives_NativeConstants_CTIME;
constexpr int kIno = com_durvo_ufe_fsutil_internal_natives_NativeConstants_INO;
constexpr int kSize = com_durvo_ufe_fsutil_internal_natives_NativeConstants_SIZE;
constexpr int kBlocks = com_durvo_ufe_fsutil_internal_natives_NativeConstants_BLOCKS;
constexpr int kBtime = com_durvo_ufe_fsutil_internal_natives_NativeConstants_BTIME_BIT;
constexpr int kMountId = com_durvo_ufe_fsutil_internal_natives_NativeConstants_MOUNT_ID_BIT;
constexpr int kDev = com_durvo_ufe_fsutil_internal_natives_NativeConstants_DEV;
constexpr int kLstat = com_durvo_ufe_fsutil_internal_natives_NativeConstants_LSTAT;

// What a listing handle owns: the open directory, what was read of it and not
// yet handed out, and an error to report after the entries read before it.
// On Linux entries are read with getdents64 into the handle's own buffer, as
// fdopendir would cost three more system calls for each directory.
struct DirStream {
    int fd = -1;
    int iPendingErr = 0;
    bool bEnded = false;
#ifdef __linux__
    size_t iPos = 0;
    size_t iLen = 0;
    alignas(struct dirent64) char buf[32768];
#else
    DIR *dir = nullptr;
#endif
};

// The next entry of ds, "." and ".." included: its name and d_type; false at
// the end (errno 0) or on failure (errno set).
bool nextEntry(DirStream *ds, const char **pszName, unsigned char *pType) {
#ifdef __linux__
    if (ds->iPos >= ds->iLen) {
        const ssize_t n = getdents64(ds->fd, ds->buf, sizeof ds->buf);
        if (n <= 0) {
            if (n == 0) errno = 0;
            return false;
        }
        ds->iLen = static_cast<size_t>(n);
        ds->iPos = 0;
    }
    const auto *pEntry = reinterpret_cast<const struct dirent64 *>(ds->buf + ds->iPos);
    ds->iPos += pEntry->d_reclen;
#else
    errno = 0;
    const struct dirent *pEntry = readdir(ds->dir);
    if (pEntry == nullptr) return false;
#endif
    *pszName = pEntry->d_name;
    *pType = pEntry->d_type;
    return true;
}

void closeStream(DirStream *ds) {
#ifdef __linux__
    close(ds->fd);
#else
    closedir(ds->dir);
#endif
    delete ds;
}

// A batch is built on the stack a chunk at a time and copied into the Java
// arrays whenever the chunk is full, so a listing allocates nothing per batch.
struct Chunk {
    static constexpr size_t kEntries = 32;
    jlong longs[kEntries * kEntryLongs];
    char names[kEntries * (NAME_MAX + 1)];
    size_t iEntries = 0;  // in the chunk
    size_t iNameBytes = 0;
    jsize iLongsOut = 0;  // already copied out
    jsize iNamesOut = 0;

    void flush(JNIEnv *env, jlongArray jLongs, jbyteArray jNames) {
        const auto iLongs = static_cast<jsize>(iEntries * kEntryLongs);
        env->SetLongArrayRegion(jLongs, iLongsOut, iLongs, longs);
        env->SetByteArrayRegion(jNames, iNamesOut, static_cast<jsize>(iNameBytes), reinterpret_cast<jbyte *>(names));
        iLongsOut += iLongs;
        iNamesOut += static_cast<jsize>(iNameBytes);
        iEntries = 0;
        iNameBytes = 0;
    }
};

jlong handleOf(DirStream *ds) { return static_cast<jlong>(reinterpret_cast<std::intptr_t>(ds)); }
DirStream *streamOf(jlong jlHandle) { return reinterpret_cast<DirStream *>(static_cast<std::intptr_t>(jlHandle)); }

// A stream for an open directory descriptor, which it then owns; 0 with a
// NativeErrno pending on failure (the descriptor is closed).
jlong adoptDirectory(JNIEnv *env, int fd) {
    if (fd < 0) {
        fsstat::throwErrno(env, errno);
        return 0;
    }
    auto *ds = new (std::nothrow) DirStream;
    if (ds == nullptr) {
        close(fd);
        fsstat::throwOutOfMemory(env);
        return 0;
    }
    ds->fd = fd;
#ifndef __linux__
    ds->dir = fdopendir(fd);
    if (ds->dir == nullptr) {
        const int iErr = errno;
        close(fd);
        delete ds;
        fsstat::throwErrno(env, iErr);
        return 0;
    }
#endif
    return handleOf(ds);
}

// The charset mode is the library's one switch, set as FolderIteratorNix's
// init sets it, so that both routes make the same string of a name.
void jniInitIDs(JNIEnv *env, jclass jcls, jboolean jUtf8) {
    Java_com_durvo_ufe_fsutil_FolderIteratorNix_init(env, jcls, jUtf8);
    fsstat::initErrnoClass(env);
}

jstring jniNameString(JNIEnv *env, jclass, jbyteArray jName) {
    MallocPtr szName(fsstat::pathFromBytes(env, jName));
    if (!szName) return nullptr;
    jstring js = getJavaFilePath(env, szName.get());
    if (js == nullptr && !env->ExceptionCheck()) fsstat::throwOutOfMemory(env);
    return js;
}

// Opens the directory at jPath (following a final link): the handle, closed
// with closeDir once; 0 with NativeErrno pending.
jlong jniOpenDir(JNIEnv *env, jclass, jbyteArray jPath) {
    MallocPtr szPath(fsstat::pathFromBytes(env, jPath));
    if (!szPath) return 0;
    return adoptDirectory(env, open(szPath.get(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
}

// A stream of the open directory fd, which it owns from here on: the caller
// keeps making its *at calls on fd while the stream is open, so one
// descriptor serves both. As openDir otherwise.
jlong jniAdoptDir(JNIEnv *env, jclass, jint fd) { return adoptDirectory(env, fd); }

// Opens the subdirectory jName of an open directory, relative to it: through
// a symbolic link only with FOLLOW (a directory swapped for a link since it
// was listed fails with ELOOP or ENOTDIR). As openDir otherwise.
jlong jniOpenDirAt(JNIEnv *env, jclass, jlong jlParent, jbyteArray jName, jint jFlags) {
    MallocPtr szName(fsstat::pathFromBytes(env, jName));
    if (!szName) return 0;
    const int iNoFollow = (jFlags & com_durvo_ufe_fsutil_internal_natives_NativeConstants_FOLLOW) != 0 ? 0 : O_NOFOLLOW;
    return adoptDirectory(env, openat(streamOf(jlParent)->fd, szName.get(),
                                      O_RDONLY | O_DIRECTORY | O_CLOEXEC | iNoFollow));
}

// The open directory's device and inode into jId. Pending on failure: NativeErrno.
void jniIdentity(JNIEnv *env, jclass, jlong jlHandle, jlongArray jId) {
    struct stat st;
    if (fstat(streamOf(jlHandle)->fd, &st) != 0) {
        fsstat::throwErrno(env, errno);
        return;
    }
    const jlong id[] = {widen(st.st_dev), widen(st.st_ino)};
    env->SetLongArrayRegion(jId, 0, 2, id);
}

// The type bits of a directory entry's d_type; 0 where the file system
// leaves it unknown.
mode_t typeOf(unsigned char dType) {
    switch (dType) {
    case DT_REG: return S_IFREG;
    case DT_DIR: return S_IFDIR;
    case DT_LNK: return S_IFLNK;
    case DT_FIFO: return S_IFIFO;
    case DT_SOCK: return S_IFSOCK;
    case DT_CHR: return S_IFCHR;
    case DT_BLK: return S_IFBLK;
    default: return 0;
    }
}

#ifdef STATX_TYPE
static_assert(kType == STATX_TYPE && kMode == STATX_MODE && kNlink == STATX_NLINK && kUid == STATX_UID &&
                  kGid == STATX_GID && kAtime == STATX_ATIME && kMtime == STATX_MTIME &&
                  kCtime == STATX_CTIME && kIno == STATX_INO && kSize == STATX_SIZE && kBlocks == STATX_BLOCKS &&
                  kBtime == STATX_BTIME && kMountId == STATX_MNT_ID,
              "the attribute bits are statx's");
static_assert((kLstat & ~kDev) == STATX_BASIC_STATS, "lstat's attributes are statx's basic ones");

// statx where the kernel has it; ENOSYS once, then fstatat from then on.
std::atomic<bool> gNoStatx{false};

// Examines szName in fd with statx for the attributes in iWant; the attribute
// bits it got, or -1 with errno set (ENOSYS: no statx here).
int statxEntry(int fd, const char *szName, int iWant, int iAtFlags, jlong *pOut) {
    struct statx stx;
    if (statx(fd, szName, iAtFlags, static_cast<unsigned>(iWant & ~kDev), &stx) != 0) return -1;
    fsstat::fillStatx(pOut, stx);
    pOut[kSlotMountId] = widen(stx.stx_mnt_id);
    return static_cast<int>(stx.stx_mask) | kDev;
}
#endif

// Fills pOut with the attributes of szName in fd that iWant asks for; the
// attribute bits it got (only those asked for), or -1 with errno set.
int examine(int fd, const char *szName, int iWant, int iFlags, jlong *pOut) {
    const bool bFollow = (iFlags & com_durvo_ufe_fsutil_internal_natives_NativeConstants_FOLLOW) != 0;
    int iAtFlags = bFollow ? 0 : AT_SYMLINK_NOFOLLOW;
    if ((iFlags & com_durvo_ufe_fsutil_internal_natives_NativeConstants_DONT_SYNC) != 0) iAtFlags |= AT_NO_AUTOMOUNT;
#ifdef STATX_TYPE
    // statx asks for no more than is wanted, which spares network file
    // systems a round trip; lstat's full set is as quick through fstatat.
    if ((iWant & ~kLstat) != 0 || (iWant | kType) != kLstat ||
        (iFlags & com_durvo_ufe_fsutil_internal_natives_NativeConstants_DONT_SYNC) != 0) {
        if (!gNoStatx.load(std::memory_order_relaxed)) {
            if ((iFlags & com_durvo_ufe_fsutil_internal_natives_NativeConstants_DONT_SYNC) != 0) iAtFlags |= AT_STATX_DONT_SYNC;
            int iHave = statxEntry(fd, szName, iWant, iAtFlags, pOut);
            if (iHave < 0 && errno == ENOENT && bFollow) {  // a dangling link: the link itself
                iHave = statxEntry(fd, szName, iWant, iAtFlags | AT_SYMLINK_NOFOLLOW, pOut);
            }
            if (iHave >= 0 || errno != ENOSYS) return iHave < 0 ? -1 : iHave & (iWant | kDev);
            gNoStatx.store(true, std::memory_order_relaxed);
            iAtFlags &= ~AT_STATX_DONT_SYNC;
        }
    }
#endif
    struct stat st;
    int iStatus = fstatat(fd, szName, &st, iAtFlags);
    if (iStatus != 0 && errno == ENOENT && bFollow) iStatus = fstatat(fd, szName, &st, iAtFlags | AT_SYMLINK_NOFOLLOW);
    if (iStatus != 0) return -1;
    fsstat::fillStat(pOut, st);
    return kLstat & (iWant | kDev);
}

// Reads on until longs or names are full or the stream ends; answers how many
// entries it put there (0 at the end). Each entry is ENTRY_LONGS longs (see
// NativeConstants), its name's bytes follow the previous name's in names. An
// entry's type comes from the directory where the file system gives it, and
// a stat is made only when jWant asks for more (or the type is unknown). An
// entry that cannot be examined is delivered with the errno; one removed
// before it is examined is skipped. An error of the stream itself after some
// entries were read is reported at the next call, so none of them is lost.
jint jniReadDir(JNIEnv *env, jclass, jlong jlHandle, jint jWant, jint jFlags, jlongArray jLongs,
                jbyteArray jNames) {
    DirStream *ds = streamOf(jlHandle);
    if (ds->iPendingErr != 0) {
        const int iErr = ds->iPendingErr;
        ds->iPendingErr = 0;
        ds->bEnded = true;
        fsstat::throwErrno(env, iErr);
        return 0;
    }
    if (ds->bEnded) return 0;
    const size_t iMaxEntries = static_cast<size_t>(env->GetArrayLength(jLongs)) / kEntryLongs;
    const size_t iNames = static_cast<size_t>(env->GetArrayLength(jNames));
    const bool bTypesOnly = (jWant & ~kType) == 0 && (jFlags & com_durvo_ufe_fsutil_internal_natives_NativeConstants_FOLLOW) == 0;

    const int fd = ds->fd;
    Chunk chunk;
    size_t iCount = 0;
    size_t iUsed = 0;
    int iErr = 0;
    // Room for one more name of the longest length is kept, so an entry read
    // is always stored.
    while (iCount < iMaxEntries && iNames - iUsed > NAME_MAX) {
        const char *szName = nullptr;
        unsigned char dType = DT_UNKNOWN;
        if (!nextEntry(ds, &szName, &dType)) {
            iErr = errno;
            if (iErr == 0) ds->bEnded = true;
            break;
        }
        if (szName[0] == '.' && (szName[1] == '\0' || (szName[1] == '.' && szName[2] == '\0'))) continue;
        const size_t iLen = std::strlen(szName);
        if (iLen > NAME_MAX) {  // only where NAME_MAX understates a name
            iErr = ENAMETOOLONG;
            break;
        }
        jlong *pOut = chunk.longs + chunk.iEntries * kEntryLongs;
        const mode_t type = typeOf(dType);
        int iHave = 0;
        int iStatErr = 0;
        if (bTypesOnly && type != 0) {
            pOut[2] = static_cast<jlong>(type);
            iHave = kType;
        } else {
            iHave = examine(fd, szName, jWant, jFlags, pOut);
            if (iHave < 0) {
                iStatErr = errno;
                if (iStatErr == ENOENT) continue;  // removed since readdir saw it
                // The name without its attributes (a directory that may be read but not
                // searched): the type as the directory gives it, if it does.
                pOut[2] = static_cast<jlong>(type);
                iHave = type != 0 ? kType : 0;
            }
        }
        pOut[kSlotHave] = iHave;
        pOut[kSlotError] = iStatErr;
        pOut[kSlotNameLength] = static_cast<jlong>(iLen);
        std::memcpy(chunk.names + chunk.iNameBytes, szName, iLen);
        chunk.iNameBytes += iLen;
        iUsed += iLen;
        iCount++;
        if (++chunk.iEntries == Chunk::kEntries) chunk.flush(env, jLongs, jNames);
    }
    if (iErr != 0 && iCount == 0) {
        ds->bEnded = true;
        fsstat::throwErrno(env, iErr);
        return 0;
    }
    ds->iPendingErr = iErr;
    chunk.flush(env, jLongs, jNames);
    return static_cast<jint>(iCount);
}

// A NativeErrno for iErr, not thrown. Pending on null: the JVM's error.
jthrowable jniDescribe(JNIEnv *env, jclass, jint jErr) { return fsstat::errnoObject(env, jErr); }

void jniCloseDir(JNIEnv *, jclass, jlong jlHandle) { closeStream(streamOf(jlHandle)); }

// Signatures as Natives declares them.
const JNINativeMethod kMethods[] = {
    fsstat::nativeMethod("initIDs", "(Z)V", reinterpret_cast<void *>(jniInitIDs)),
    fsstat::nativeMethod("nameString", "([B)Ljava/lang/String;", reinterpret_cast<void *>(jniNameString)),
    fsstat::nativeMethod("openDir", "([B)J", reinterpret_cast<void *>(jniOpenDir)),
    fsstat::nativeMethod("adoptDir", "(I)J", reinterpret_cast<void *>(jniAdoptDir)),
    fsstat::nativeMethod("openDirAt", "(J[BI)J", reinterpret_cast<void *>(jniOpenDirAt)),
    fsstat::nativeMethod("identity", "(J[J)V", reinterpret_cast<void *>(jniIdentity)),
    fsstat::nativeMethod("readDir", "(JII[J[B)I", reinterpret_cast<void *>(jniReadDir)),
    fsstat::nativeMethod("describe", "(I)Lcom/durvo/ufe/fsutil/internal/natives/NativeErrno;", reinterpret_cast<void *>(jniDescribe)),
    fsstat::nativeMethod("closeDir", "(J)V", reinterpret_cast<void *>(jniCloseDir)),
};

// A class of the Java API without initialising it: FindClass would run its
// static initialiser, which loads this library, from inside the load.
// NativeConstants has no initialiser and the same class loader. Null with the
// lookup's error pending when the class loader has no such class.
jclass findUninitialised(JNIEnv *env, const char *szName) {
    LocalRef<jclass> jclsLayout(env, env->FindClass("com/durvo/ufe/fsutil/internal/natives/NativeConstants"));
    if (!jclsLayout) return nullptr;
    LocalRef<jclass> jclsClass(env, env->FindClass("java/lang/Class"));
    if (!jclsClass) return nullptr;
    jmethodID jmidLoader = env->GetMethodID(jclsClass.get(), "getClassLoader", "()Ljava/lang/ClassLoader;");
    if (jmidLoader == nullptr) return nullptr;
    jmethodID jmidForName = env->GetStaticMethodID(jclsClass.get(), "forName",
                                                   "(Ljava/lang/String;ZLjava/lang/ClassLoader;)Ljava/lang/Class;");
    if (jmidForName == nullptr) return nullptr;
    LocalRef<jobject> jLoader(env, env->CallObjectMethod(jclsLayout.get(), jmidLoader));
    if (env->ExceptionCheck()) return nullptr;
    LocalRef<jstring> jsName(env, env->NewStringUTF(szName));
    if (!jsName) return nullptr;
    auto jcls = static_cast<jclass>(
        env->CallStaticObjectMethod(jclsClass.get(), jmidForName, jsName.get(), JNI_FALSE, jLoader.get()));
    return env->ExceptionCheck() ? nullptr : jcls;
}

} // namespace

// The Java API's natives are registered here rather than exported, so their
// signatures stay private to the library. A class loader without the Java API
// (a program that uses only the declaring classes) loads the library all the same.
extern "C" JNIEXPORT jint JNICALL JNI_OnLoad(JavaVM *vm, void *) {
    JNIEnv *env = nullptr;
    if (vm->GetEnv(reinterpret_cast<void **>(&env), JNI_VERSION_1_8) != JNI_OK) return JNI_ERR;
    LocalRef<jclass> jcls(env, findUninitialised(env, "com.durvo.ufe.fsutil.internal.natives.Natives"));
    if (!jcls) {
        env->ExceptionClear();
        return JNI_VERSION_1_8;
    }
    if (!fsstat::registerNatives(env, jcls.get(), kMethods) || !fsstat::registerPathNatives(env, jcls.get()) ||
        !fsstat::registerAttrNatives(env, jcls.get()) || !fsstat::registerWatchNatives(env, jcls.get()))
        return JNI_ERR;
    return JNI_VERSION_1_8;
}
