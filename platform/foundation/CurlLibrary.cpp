#include "platform/foundation/CurlLibrary.h"

#include <dlfcn.h>

#include <mutex>

#include "platform/foundation/Dispatch.h"
#include "platform/foundation/Log.h"

namespace tw {

namespace {

std::mutex gNameMutex;
std::string gLibraryName = "libcurl.so.4";
bool gSharedStarted = false;  // guarded by gNameMutex

// The option kinds, told apart by the ranges the library numbers its options in.
bool optionTakesLong(CURLoption option) { return option < CURLOPTTYPE_OBJECTPOINT; }
bool optionTakesObject(CURLoption option) {
  return (option >= CURLOPTTYPE_OBJECTPOINT && option < CURLOPTTYPE_FUNCTIONPOINT) ||
         (option >= CURLOPTTYPE_BLOB && option < CURLOPTTYPE_BLOB + 10000);
}
bool optionTakesFunction(CURLoption option) {
  return option >= CURLOPTTYPE_FUNCTIONPOINT && option < CURLOPTTYPE_OFF_T;
}
bool optionTakesOffset(CURLoption option) {
  return option >= CURLOPTTYPE_OFF_T && option < CURLOPTTYPE_BLOB;
}

template <class F>
bool resolve(void* library, const char* name, F& function, std::string& error) {
  dlerror();
  void* symbol = dlsym(library, name);
  if (!symbol) {
    const char* text = dlerror();
    error = text ? text : std::string("no function ") + name;
    return false;
  }
  function = reinterpret_cast<F>(symbol);
  return true;
}

}  // namespace

const CurlLibrary& CurlLibrary::shared() {
  static std::once_flag once;
  static const CurlLibrary* library = nullptr;
  std::call_once(once, [] {
    std::string name;
    {
      std::lock_guard<std::mutex> lock(gNameMutex);
      gSharedStarted = true;
      name = gLibraryName;
    }
    // Never destroyed: detached transfer threads may still call in while the process exits.
    library = new CurlLibrary(name);
  });
  return *library;
}

void CurlLibrary::openInBackground() {
  DispatchQueue::global()->async([] { (void)shared(); });
}

bool CurlLibrary::setLibraryNameForTesting(std::string fileName) {
  std::lock_guard<std::mutex> lock(gNameMutex);
  if (gSharedStarted) return false;
  gLibraryName = std::move(fileName);
  return true;
}

CurlLibrary::CurlLibrary(const std::string& fileName) {
  // Local binding: the library's symbols must not interpose on anything else in the process.
  void* library = dlopen(fileName.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (!library) {
    const char* text = dlerror();
    loadError_ = text ? text : fileName + ": cannot be opened";
  } else {
    Functions f;
#define TW_CURL_RESOLVE(name) resolve(library, "curl_" #name, f.name, loadError_)
    const bool resolved = TW_CURL_RESOLVE(global_init) && TW_CURL_RESOLVE(easy_init) &&
                          TW_CURL_RESOLVE(easy_setopt) && TW_CURL_RESOLVE(easy_getinfo) &&
                          TW_CURL_RESOLVE(easy_perform) && TW_CURL_RESOLVE(easy_cleanup) &&
                          TW_CURL_RESOLVE(easy_strerror) && TW_CURL_RESOLVE(slist_append) &&
                          TW_CURL_RESOLVE(slist_free_all) && TW_CURL_RESOLVE(url) &&
                          TW_CURL_RESOLVE(url_set) && TW_CURL_RESOLVE(url_get) &&
                          TW_CURL_RESOLVE(url_cleanup) && TW_CURL_RESOLVE(free) &&
                          TW_CURL_RESOLVE(multi_init) && TW_CURL_RESOLVE(multi_add_handle) &&
                          TW_CURL_RESOLVE(multi_remove_handle) && TW_CURL_RESOLVE(multi_perform) &&
                          TW_CURL_RESOLVE(multi_poll) && TW_CURL_RESOLVE(multi_info_read) &&
                          TW_CURL_RESOLVE(multi_wakeup) && TW_CURL_RESOLVE(multi_cleanup);
#undef TW_CURL_RESOLVE
    if (!resolved) {
      dlclose(library);
    } else if (const CURLcode code = f.global_init(CURL_GLOBAL_DEFAULT); code != CURLE_OK) {
      // The library stays open: its start may have run part way.
      loadError_ = std::string("curl_global_init failed: ") + f.easy_strerror(code);
    } else {
      fn_ = f;
      loaded_ = true;
    }
  }
  if (!loaded_) log(LogLevel::Error, "libcurl could not be loaded: " + loadError_);
}

CURL* CurlLibrary::easy_init() const { return loaded_ ? fn_.easy_init() : nullptr; }

CURLcode CurlLibrary::easy_perform(CURL* handle) const {
  return loaded_ ? fn_.easy_perform(handle) : CURLE_FAILED_INIT;
}

void CurlLibrary::easy_cleanup(CURL* handle) const {
  if (loaded_) fn_.easy_cleanup(handle);
}

const char* CurlLibrary::easy_strerror(CURLcode code) const {
  return loaded_ ? fn_.easy_strerror(code) : "libcurl could not be loaded";
}

CURLcode CurlLibrary::setoptInteger(CURL* handle, CURLoption option, curl_off_t value) const {
  if (!loaded_) return CURLE_FAILED_INIT;
  if (optionTakesLong(option)) return fn_.easy_setopt(handle, option, static_cast<long>(value));
  if (optionTakesOffset(option)) return fn_.easy_setopt(handle, option, value);
  return CURLE_BAD_FUNCTION_ARGUMENT;
}

CURLcode CurlLibrary::easy_setopt(CURL* handle, CURLoption option, const void* value) const {
  if (!loaded_) return CURLE_FAILED_INIT;
  // The library keeps object options as plain pointers; it never writes through string ones.
  if (optionTakesObject(option)) return fn_.easy_setopt(handle, option, const_cast<void*>(value));
  // A null pointer clears a callback.
  if (optionTakesFunction(option) && !value) {
    return fn_.easy_setopt(handle, option, static_cast<void (*)()>(nullptr));
  }
  return CURLE_BAD_FUNCTION_ARGUMENT;
}

CURLcode CurlLibrary::setoptFunction(CURL* handle, CURLoption option, void (*function)()) const {
  if (!loaded_) return CURLE_FAILED_INIT;
  if (!optionTakesFunction(option)) return CURLE_BAD_FUNCTION_ARGUMENT;
  return fn_.easy_setopt(handle, option, function);
}

CURLcode CurlLibrary::getinfoPointer(CURL* handle, CURLINFO info, void* out) const {
  return loaded_ ? fn_.easy_getinfo(handle, info, out) : CURLE_FAILED_INIT;
}

curl_slist* CurlLibrary::slist_append(curl_slist* list, const char* text) const {
  return loaded_ ? fn_.slist_append(list, text) : nullptr;
}

void CurlLibrary::slist_free_all(curl_slist* list) const {
  if (loaded_) fn_.slist_free_all(list);
}

CURLU* CurlLibrary::url() const { return loaded_ ? fn_.url() : nullptr; }

CURLUcode CurlLibrary::url_set(CURLU* url, CURLUPart part, const char* content,
                               unsigned flags) const {
  return loaded_ ? fn_.url_set(url, part, content, flags) : CURLUE_OUT_OF_MEMORY;
}

CURLUcode CurlLibrary::url_get(CURLU* url, CURLUPart part, char** content, unsigned flags) const {
  return loaded_ ? fn_.url_get(url, part, content, flags) : CURLUE_OUT_OF_MEMORY;
}

void CurlLibrary::url_cleanup(CURLU* url) const {
  if (loaded_) fn_.url_cleanup(url);
}

void CurlLibrary::free(void* pointer) const {
  if (loaded_) fn_.free(pointer);
}

CURLM* CurlLibrary::multi_init() const { return loaded_ ? fn_.multi_init() : nullptr; }

CURLMcode CurlLibrary::multi_add_handle(CURLM* multi, CURL* handle) const {
  return loaded_ ? fn_.multi_add_handle(multi, handle) : CURLM_INTERNAL_ERROR;
}

CURLMcode CurlLibrary::multi_remove_handle(CURLM* multi, CURL* handle) const {
  return loaded_ ? fn_.multi_remove_handle(multi, handle) : CURLM_INTERNAL_ERROR;
}

CURLMcode CurlLibrary::multi_perform(CURLM* multi, int* running) const {
  return loaded_ ? fn_.multi_perform(multi, running) : CURLM_INTERNAL_ERROR;
}

CURLMcode CurlLibrary::multi_poll(CURLM* multi, curl_waitfd* extra, unsigned extraCount,
                                  int timeoutMs, int* ready) const {
  return loaded_ ? fn_.multi_poll(multi, extra, extraCount, timeoutMs, ready)
                 : CURLM_INTERNAL_ERROR;
}

CURLMsg* CurlLibrary::multi_info_read(CURLM* multi, int* queued) const {
  return loaded_ ? fn_.multi_info_read(multi, queued) : nullptr;
}

CURLMcode CurlLibrary::multi_wakeup(CURLM* multi) const {
  return loaded_ ? fn_.multi_wakeup(multi) : CURLM_INTERNAL_ERROR;
}

CURLMcode CurlLibrary::multi_cleanup(CURLM* multi) const {
  return loaded_ ? fn_.multi_cleanup(multi) : CURLM_INTERNAL_ERROR;
}

}  // namespace tw
