#include "platform/windows/identity.h"

#include <cstring>

namespace stopex::windows_backend {
namespace {

std::uint32_t g_listedId = 0;
bool g_listed = false;
char g_listedName[MAX_PATH];

using QueryImageNameFn = BOOL(WINAPI*)(HANDLE, DWORD, LPSTR, PDWORD);

// Bound by name on first use: older systems do not have it. (A plain
// variable, not a guarded local static, which would bring in the C++
// runtime's locking.)
bool g_queryBound = false;
QueryImageNameFn g_query = nullptr;

QueryImageNameFn QueryImageName() {
  if (!g_queryBound) {
    g_query = reinterpret_cast<QueryImageNameFn>(reinterpret_cast<void*>(
        ::GetProcAddress(::GetModuleHandleA("KERNEL32.DLL"), "QueryFullProcessImageNameA")));
    g_queryBound = true;
  }
  return g_query;
}

// The last path component, past the last "\" that is a character of its own.
const char* LastComponent(const char* path) {
  const char* component = path;
  for (const char* p = path; *p != '\0'; p = ::CharNextA(p)) {
    if (*p == '\\') component = p + 1;
  }
  return component;
}

}  // namespace

void RememberListed(std::uint32_t processId, const char* imageName) {
  g_listedId = processId;
  g_listed = true;
  std::strncpy(g_listedName, imageName, sizeof g_listedName - 1);
  g_listedName[sizeof g_listedName - 1] = '\0';
}

const char* ListedName(std::uint32_t processId) {
  return g_listed && processId == g_listedId ? g_listedName : nullptr;
}

Identity CompareImage(HANDLE process, const char* listedName) {
  const QueryImageNameFn query = QueryImageName();
  if (query == nullptr) return Identity::Unknown;
  char path[4 * MAX_PATH];
  DWORD size = sizeof path;
  if (query(process, 0, path, &size) == FALSE) return Identity::Unknown;
  return ::lstrcmpiA(LastComponent(path), LastComponent(listedName)) == 0 ? Identity::Same
                                                                          : Identity::Other;
}

}  // namespace stopex::windows_backend
