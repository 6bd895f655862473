// Private to the library: scope guards that make "released on every path"
// hold by construction. Exported routines still hand out plain malloc buffers
// and plain JNI references (see release()).
#ifndef FSSTAT_GUARDS_H
#define FSSTAT_GUARDS_H

#include <jni.h>

#include <cstdlib>
#include <memory>

namespace fsstat {

struct FreeDeleter {
    void operator()(void *p) const { std::free(p); }
};

// A malloc buffer; release() hands it to a caller who will free() it.
using MallocPtr = std::unique_ptr<char, FreeDeleter>;

// Deletes a JNI local reference when it goes out of scope.
// DeleteLocalRef is allowed with an exception pending, so this is safe on
// every error path.
template <typename T>
class LocalRef {
public:
    LocalRef(JNIEnv *env, T ref) : env_(env), ref_(ref) {}
    ~LocalRef() {
        if (ref_ != nullptr) env_->DeleteLocalRef(ref_);
    }
    LocalRef(const LocalRef &) = delete;
    LocalRef &operator=(const LocalRef &) = delete;

    T get() const { return ref_; }
    explicit operator bool() const { return ref_ != nullptr; }
    // Gives up ownership: the reference becomes the caller's result.
    T release() {
        T ref = ref_;
        ref_ = nullptr;
        return ref;
    }

private:
    JNIEnv *env_;
    T ref_;
};

} // namespace fsstat

#endif // FSSTAT_GUARDS_H
