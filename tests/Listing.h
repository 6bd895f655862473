// Walks a directory through the iteration natives on the calling thread, as
// FolderIteratorNix does, and reads each delivered entry back: its Java name
// and the bytes that dir + "/" + name leads back to through getNativeFilePath.
// Usable from any attached thread with that thread's JNIEnv.
#ifndef FSSTAT_TESTS_LISTING_H
#define FSSTAT_TESTS_LISTING_H

#include "JniUtil.h"
#include "JvmTest.h"

#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace fsstat::test {

struct Entry {
    std::string java;    // the delivered name, as UTF-8
    std::string native;  // the bytes it leads back to within the directory; "<elsewhere>" if outside it
    jlong size = -1;
    jlong inode = -1;
};

class Lister {
public:
    explicit Lister(JNIEnv *env) : env_(env) {
        jclass cls = env->FindClass("com/durvo/ufe/fsutil/ChildFile");
        if (cls == nullptr) return;  // ok() tells; the NoClassDefFoundError stays for the caller
        cls_ = static_cast<jclass>(env->NewGlobalRef(cls));
        env->DeleteLocalRef(cls);
        ctor_ = env->GetMethodID(cls_, "<init>", "()V");
        name_ = env->GetFieldID(cls_, "name", "Ljava/lang/String;");
        size_ = env->GetFieldID(cls_, "size", "J");
        inode_ = env->GetFieldID(cls_, "inode", "J");
        jclass str = env->FindClass("java/lang/String");
        concat_ = env->GetMethodID(str, "concat", "(Ljava/lang/String;)Ljava/lang/String;");
        env->DeleteLocalRef(str);
    }
    ~Lister() {
        if (cls_ != nullptr) env_->DeleteGlobalRef(cls_);
    }
    Lister(const Lister &) = delete;
    Lister &operator=(const Lister &) = delete;

    bool ok() const { return ctor_ != nullptr && name_ != nullptr && concat_ != nullptr; }

    // A new child object (a local reference).
    jobject child() { return env_->NewObject(cls_, ctor_); }

    // The entry that child last received, read in dir (a Java string of an ASCII path).
    Entry read(jstring jsDir, jobject child) {
        Entry e;
        env_->PushLocalFrame(8);
        auto jsName = static_cast<jstring>(env_->GetObjectField(child, name_));
        e.java = utf8(env_, jsName);
        e.size = env_->GetLongField(child, size_);
        e.inode = env_->GetLongField(child, inode_);
        auto jsSlash = static_cast<jstring>(env_->CallObjectMethod(jsDir, concat_, env_->NewStringUTF("/")));
        jstring jsFull = nullptr;
        if (!env_->ExceptionCheck()) jsFull = static_cast<jstring>(env_->CallObjectMethod(jsSlash, concat_, jsName));
        if (!env_->ExceptionCheck()) {
            char *full = getNativeFilePath(env_, jsFull);
            const std::string prefix = utf8(env_, jsDir) + "/";
            e.native = full != nullptr && std::strncmp(full, prefix.c_str(), prefix.size()) == 0
                           ? std::string(full + prefix.size())
                           : "<elsewhere>";
            std::free(full);
        }
        env_->PopLocalFrame(nullptr);
        return e;
    }

    // Every entry of dir in delivery order; first gets getFirstFileN's answer.
    std::vector<Entry> list(const std::string &dir, jlong *first = nullptr) {
        std::vector<Entry> entries;
        env_->PushLocalFrame(8);
        jstring jsDir = env_->NewStringUTF(dir.c_str());
        jobject obj = child();
        jlong handle = Java_com_durvo_ufe_fsutil_FolderIteratorNix_getFirstFileN(env_, nullptr, jsDir, obj);
        if (first != nullptr) *first = handle;
        if (handle != -1 && !env_->ExceptionCheck()) {
            jboolean more = JNI_TRUE;
            while (more == JNI_TRUE && !env_->ExceptionCheck()) {
                entries.push_back(read(jsDir, obj));
                more = Java_com_durvo_ufe_fsutil_FolderIteratorNix_getNextFileN(env_, nullptr, handle, jsDir, obj);
            }
            Java_com_durvo_ufe_fsutil_FolderIteratorNix_closeSearchHandleN(env_, nullptr, handle);
        }
        env_->PopLocalFrame(nullptr);
        return entries;
    }

private:
    JNIEnv *env_;
    jclass cls_ = nullptr;
    jmethodID ctor_ = nullptr;
    jfieldID name_ = nullptr;
    jfieldID size_ = nullptr;
    jfieldID inode_ = nullptr;
    jmethodID concat_ = nullptr;
};

// The charset mode the Java side chooses for this run's default charset.
inline bool utf8ModeForThisRun() {
    const char *encoding = std::getenv("FSSTAT_FILE_ENCODING");
    return encoding == nullptr || std::strcmp(encoding, "UTF-8") == 0;
}

} // namespace fsstat::test

#endif
