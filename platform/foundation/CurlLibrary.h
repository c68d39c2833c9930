#pragma once
// The HTTP library (libcurl), opened when the first transfer needs it instead of at program start:
// it and the libraries it pulls in cost start-up time that nothing before the first network
// request needs. `CurlLibrary::shared()` opens it once, from any thread, and keeps it for the life
// of the process; the functions in `tw::curl` forward to it. When it cannot be opened (absent, or
// a function missing) they hand out null handles and failure codes, so callers meet an ordinary
// network error. Only types and constants come from <curl/curl.h>; nothing links the library.
// Thread-safe: the resolved functions never change after construction.

#include <curl/curl.h>

#include <string>
#include <type_traits>

namespace tw {

class CurlLibrary {
 public:
  // The process's libcurl ("libcurl.so.4"), opened on the first call.
  static const CurlLibrary& shared();
  // Starts opening it on a global queue, for a program that knows a transfer will come soon and
  // would rather not wait for the opening on the thread that starts it (shared() waits only for
  // what is left of it).
  static void openInBackground();
  // Makes shared() open `fileName` instead, so tests can see the library missing. Only before
  // shared()'s first call; false after it.
  static bool setLibraryNameForTesting(std::string fileName);

  // Opens `fileName` now, resolves every function and starts the library; logs once when that
  // fails. A library once opened is never closed: its threads and handles may outlive us.
  explicit CurlLibrary(const std::string& fileName);
  CurlLibrary(const CurlLibrary&) = delete;
  CurlLibrary& operator=(const CurlLibrary&) = delete;

  bool loaded() const { return loaded_; }
  // Why the library could not be used (the loader's own text); empty when loaded.
  const std::string& loadError() const { return loadError_; }

  // The library's functions. Without the library: null handles, CURLE_FAILED_INIT,
  // CURLM_INTERNAL_ERROR, CURLUE_OUT_OF_MEMORY; cleanups do nothing.
  CURL* easy_init() const;
  CURLcode easy_perform(CURL* handle) const;
  void easy_cleanup(CURL* handle) const;
  const char* easy_strerror(CURLcode code) const;

  // Setting an option takes the value the option's type calls for: an integer for a long or
  // curl_off_t option (converted to what the library reads), a data pointer for an object, string,
  // list or blob option, a function for a callback option. A value of the wrong kind for the
  // option is refused with CURLE_BAD_FUNCTION_ARGUMENT rather than read as something else.
  template <class T>
  requires std::is_integral_v<T> CURLcode easy_setopt(CURL* handle, CURLoption option, T value)
  const { return setoptInteger(handle, option, static_cast<curl_off_t>(value)); }
  CURLcode easy_setopt(CURL* handle, CURLoption option, const void* value) const;
  template <class R, class... A>
  CURLcode easy_setopt(CURL* handle, CURLoption option, R (*function)(A...)) const {
    return setoptFunction(handle, option, reinterpret_cast<void (*)()>(function));
  }

  // `out` must be of the information's type (long, curl_off_t, double, char*, curl_slist*,
  // curl_socket_t); a mismatch is refused with CURLE_BAD_FUNCTION_ARGUMENT.
  template <class T>
  CURLcode easy_getinfo(CURL* handle, CURLINFO info, T* out) const {
    constexpr bool kSupported = std::is_same_v<T, long> || std::is_same_v<T, curl_off_t> ||
                                std::is_same_v<T, double> || std::is_same_v<T, char*> ||
                                std::is_same_v<T, curl_slist*> || std::is_same_v<T, curl_socket_t>;
    static_assert(kSupported, "easy_getinfo: no information of this type");
    const int type = static_cast<int>(info) & CURLINFO_TYPEMASK;
    const bool fits = (std::is_same_v<T, long> && type == CURLINFO_LONG) ||
                      (std::is_same_v<T, curl_off_t> && type == CURLINFO_OFF_T) ||
                      (std::is_same_v<T, double> && type == CURLINFO_DOUBLE) ||
                      (std::is_same_v<T, char*> && type == CURLINFO_STRING) ||
                      (std::is_same_v<T, curl_slist*> && type == CURLINFO_SLIST) ||
                      (std::is_same_v<T, curl_socket_t> && type == CURLINFO_SOCKET);
    if (!fits) return CURLE_BAD_FUNCTION_ARGUMENT;
    return getinfoPointer(handle, info, out);
  }

  curl_slist* slist_append(curl_slist* list, const char* text) const;
  void slist_free_all(curl_slist* list) const;

  CURLU* url() const;
  CURLUcode url_set(CURLU* url, CURLUPart part, const char* content, unsigned flags) const;
  CURLUcode url_get(CURLU* url, CURLUPart part, char** content, unsigned flags) const;
  void url_cleanup(CURLU* url) const;
  void free(void* pointer) const;

  CURLM* multi_init() const;
  CURLMcode multi_add_handle(CURLM* multi, CURL* handle) const;
  CURLMcode multi_remove_handle(CURLM* multi, CURL* handle) const;
  CURLMcode multi_perform(CURLM* multi, int* running) const;
  CURLMcode multi_poll(CURLM* multi, curl_waitfd* extra, unsigned extraCount, int timeoutMs,
                       int* ready) const;
  CURLMsg* multi_info_read(CURLM* multi, int* queued) const;
  CURLMcode multi_wakeup(CURLM* multi) const;
  CURLMcode multi_cleanup(CURLM* multi) const;

 private:
  CURLcode setoptInteger(CURL* handle, CURLoption option, curl_off_t value) const;
  CURLcode setoptFunction(CURL* handle, CURLoption option, void (*function)()) const;
  CURLcode getinfoPointer(CURL* handle, CURLINFO info, void* out) const;

  // Types taken from the library's own declarations, so a mismatch cannot creep in.
  struct Functions {
    decltype(&::curl_global_init) global_init = nullptr;
    decltype(&::curl_easy_init) easy_init = nullptr;
    decltype(&::curl_easy_setopt) easy_setopt = nullptr;
    decltype(&::curl_easy_getinfo) easy_getinfo = nullptr;
    decltype(&::curl_easy_perform) easy_perform = nullptr;
    decltype(&::curl_easy_cleanup) easy_cleanup = nullptr;
    decltype(&::curl_easy_strerror) easy_strerror = nullptr;
    decltype(&::curl_slist_append) slist_append = nullptr;
    decltype(&::curl_slist_free_all) slist_free_all = nullptr;
    decltype(&::curl_url) url = nullptr;
    decltype(&::curl_url_set) url_set = nullptr;
    decltype(&::curl_url_get) url_get = nullptr;
    decltype(&::curl_url_cleanup) url_cleanup = nullptr;
    decltype(&::curl_free) free = nullptr;
    decltype(&::curl_multi_init) multi_init = nullptr;
    decltype(&::curl_multi_add_handle) multi_add_handle = nullptr;
    decltype(&::curl_multi_remove_handle) multi_remove_handle = nullptr;
    decltype(&::curl_multi_perform) multi_perform = nullptr;
    decltype(&::curl_multi_poll) multi_poll = nullptr;
    decltype(&::curl_multi_info_read) multi_info_read = nullptr;
    decltype(&::curl_multi_wakeup) multi_wakeup = nullptr;
    decltype(&::curl_multi_cleanup) multi_cleanup = nullptr;
  };
  Functions fn_;
  bool loaded_ = false;
  std::string loadError_;
};

// The shared library's functions under names of our own (functions named curl_* would stand in
// for the library's own once it is loaded).
namespace curl {
inline CURL* easy_init() { return CurlLibrary::shared().easy_init(); }
template <class V>
CURLcode easy_setopt(CURL* handle, CURLoption option, V value) {
  return CurlLibrary::shared().easy_setopt(handle, option, value);
}
template <class T>
CURLcode easy_getinfo(CURL* handle, CURLINFO info, T* out) {
  return CurlLibrary::shared().easy_getinfo(handle, info, out);
}
inline CURLcode easy_perform(CURL* handle) { return CurlLibrary::shared().easy_perform(handle); }
inline void easy_cleanup(CURL* handle) { CurlLibrary::shared().easy_cleanup(handle); }
inline const char* easy_strerror(CURLcode code) {
  return CurlLibrary::shared().easy_strerror(code);
}
inline curl_slist* slist_append(curl_slist* list, const char* text) {
  return CurlLibrary::shared().slist_append(list, text);
}
inline void slist_free_all(curl_slist* list) { CurlLibrary::shared().slist_free_all(list); }
inline CURLU* url() { return CurlLibrary::shared().url(); }
inline CURLUcode url_set(CURLU* url, CURLUPart part, const char* content, unsigned flags) {
  return CurlLibrary::shared().url_set(url, part, content, flags);
}
inline CURLUcode url_get(CURLU* url, CURLUPart part, char** content, unsigned flags) {
  return CurlLibrary::shared().url_get(url, part, content, flags);
}
inline void url_cleanup(CURLU* url) { CurlLibrary::shared().url_cleanup(url); }
inline void free(void* pointer) { CurlLibrary::shared().free(pointer); }
inline CURLM* multi_init() { return CurlLibrary::shared().multi_init(); }
inline CURLMcode multi_add_handle(CURLM* multi, CURL* handle) {
  return CurlLibrary::shared().multi_add_handle(multi, handle);
}
inline CURLMcode multi_remove_handle(CURLM* multi, CURL* handle) {
  return CurlLibrary::shared().multi_remove_handle(multi, handle);
}
inline CURLMcode multi_perform(CURLM* multi, int* running) {
  return CurlLibrary::shared().multi_perform(multi, running);
}
inline CURLMcode multi_poll(CURLM* multi, curl_waitfd* extra, unsigned extraCount, int timeoutMs,
                            int* ready) {
  return CurlLibrary::shared().multi_poll(multi, extra, extraCount, timeoutMs, ready);
}
inline CURLMsg* multi_info_read(CURLM* multi, int* queued) {
  return CurlLibrary::shared().multi_info_read(multi, queued);
}
inline CURLMcode multi_wakeup(CURLM* multi) { return CurlLibrary::shared().multi_wakeup(multi); }
inline CURLMcode multi_cleanup(CURLM* multi) { return CurlLibrary::shared().multi_cleanup(multi); }
}  // namespace curl

}  // namespace tw
