// Walks a directory through the iteration natives as FolderIteratorNix does, from any thread.
#ifndef FSSTAT_TESTS_LISTING_H
#define FSSTAT_TESTS_LISTING_H

#include "JvmTest.h"

#include <optional>

namespace fsstat::test {

// The thirteen values in delivery order, as the child file keeps them.
inline const char *const kChildFields[][2] = {
    {"device", "J"}, {"inode", "J"}, {"mode", "I"}, {"links", "I"}, {"uid", "I"}, {"gid", "I"}, {"rdev", "J"},
    {"size", "J"}, {"blockSize", "J"}, {"blocks", "J"}, {"accessTime", "J"}, {"modifiedTime", "J"},
    {"changeTime", "J"},
};

struct Entry {
    std::string java;    // the delivered name, as UTF-8
    std::string native;  // the bytes dir + "/" + name leads back to within dir; "<elsewhere>" if outside it
    std::vector<int64_t> values;  // kChildFields
    jlong inode() const { return values[1]; }
    jlong size() const { return values[7]; }
};

// A stat record as the thirteen values of kChildFields.
inline std::vector<int64_t> statValues(const struct stat &st) {
    return {static_cast<int64_t>(st.st_dev), static_cast<int64_t>(st.st_ino), static_cast<int32_t>(st.st_mode),
            static_cast<int32_t>(st.st_nlink), static_cast<int32_t>(st.st_uid), static_cast<int32_t>(st.st_gid),
            static_cast<int64_t>(st.st_rdev), st.st_size, st.st_blksize, st.st_blocks, st.st_atime,
            st.st_mtime, st.st_ctime};
}

class Lister {
public:
    explicit Lister(JNIEnv *env) : env_(env) {
        jclass cls = env->FindClass("com/durvo/ufe/fsutil/ChildFile");
        if (cls == nullptr) return;  // ok() tells; the NoClassDefFoundError stays for the caller
        cls_ = static_cast<jclass>(env->NewGlobalRef(cls));
        env->DeleteLocalRef(cls);
        ctor_ = env->GetMethodID(cls_, "<init>", "()V");
        name_ = env->GetFieldID(cls_, "name", "Ljava/lang/String;");
        for (auto &f : kChildFields) fields_.push_back(env->GetFieldID(cls_, f[0], f[1]));
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
        for (size_t i = 0; i < fields_.size(); i++) {
            e.values.push_back(kChildFields[i][1][0] == 'J' ? env_->GetLongField(child, fields_[i])
                                                            : env_->GetIntField(child, fields_[i]));
        }
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

    // Every entry of dir in delivery order, each into a fresh child so a value
    // left unset shows; first gets getFirstFileN's answer.
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
                env_->DeleteLocalRef(obj);
                obj = child();
                more = Java_com_durvo_ufe_fsutil_FolderIteratorNix_getNextFileN(env_, nullptr, handle, jsDir, obj);
                EXPECT_TRUE(more == JNI_TRUE || more == JNI_FALSE) << static_cast<int>(more);
            }
            Java_com_durvo_ufe_fsutil_FolderIteratorNix_closeSearchHandleN(env_, nullptr, handle);
        }
        EXPECT_FALSE(env_->ExceptionCheck()) << dir;
        env_->PopLocalFrame(nullptr);
        return entries;
    }

private:
    JNIEnv *env_;
    jclass cls_ = nullptr;
    jmethodID ctor_ = nullptr;
    jfieldID name_ = nullptr;
    std::vector<jfieldID> fields_;
    jmethodID concat_ = nullptr;
};

// The charset mode the Java side chooses for this run's default charset.
inline bool utf8ModeForThisRun() { return runEncoding() == "" || runEncoding() == "UTF-8"; }

// A test in this run's charset mode (restored afterwards) with a ready Lister.
class ListingTest : public JniTest {
protected:
    void SetUp() override {
        JniTest::SetUp();
        lister.emplace(env);
        ASSERT_TRUE(lister->ok());
    }
    void TearDown() override {
        lister.reset();
        JniTest::TearDown();
    }

    // getFirstFileN on path, which must deliver nothing: its answer, with no
    // exception pending, nothing printed and no descriptor left open.
    jlong firstOfUndeliverable(const std::string &path) {
        jstring js = env->NewStringUTF(path.c_str());
        jobject child = lister->child();
        // The JVM opens what a first conversion needs once; count after that.
        Java_com_durvo_ufe_fsutil_FolderIteratorNix_getFirstFileN(env, nullptr, js, child);
        const int before = openDescriptors();
        StdoutCapture out;
        const jlong handle = Java_com_durvo_ufe_fsutil_FolderIteratorNix_getFirstFileN(env, nullptr, js, child);
        EXPECT_EQ(out.finish(), "") << path.size() << "-byte path";
        EXPECT_FALSE(env->ExceptionCheck()) << path.size() << "-byte path";
        EXPECT_EQ(openDescriptors(), before) << path.size() << "-byte path";
        env->DeleteLocalRef(child);
        env->DeleteLocalRef(js);
        return handle;
    }

    ScopedMode mode{utf8ModeForThisRun()};
    std::optional<Lister> lister;
};

} // namespace fsstat::test

#endif
