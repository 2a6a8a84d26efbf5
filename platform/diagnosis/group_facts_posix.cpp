#include <grp.h>
#include <pwd.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <memory>
#include <vector>

#include "platform/diagnosis/group_facts.h"

namespace platform {
namespace {

bool Holds(const std::vector<gid_t>& groups, gid_t gid) {
  return std::find(groups.begin(), groups.end(), gid) != groups.end();
}

// getgroups failing tells nothing, which is not membership.
bool SessionHolds(gid_t gid, const DiagnosisSources& sources) {
  if (sources.sessionGroups) {
    return std::find(sources.sessionGroups->begin(), sources.sessionGroups->end(), gid) !=
           sources.sessionGroups->end();
  }
  if (getegid() == gid) return true;
  const int count = getgroups(0, nullptr);
  if (count <= 0) return false;
  std::vector<gid_t> groups(static_cast<size_t>(count));
  const int n = getgroups(count, groups.data());
  groups.resize(static_cast<size_t>(std::max(n, 0)));
  return Holds(groups, gid);
}

// The system's database: its primary group from passwd and every group that lists the user,
// wherever the system keeps them.
GroupFacts FromSystem(gid_t gid, const passwd* user) {
  GroupFacts facts;
  if (const group* entry = getgrgid(gid)) facts.name = entry->gr_name;
  if (!user) return facts;
  int count = 32;
  std::vector<gid_t> groups(static_cast<size_t>(count));
  while (getgrouplist(user->pw_name, user->pw_gid, groups.data(), &count) < 0) {
    groups.resize(static_cast<size_t>(count));
  }
  groups.resize(static_cast<size_t>(count));
  facts.inDatabase = Holds(groups, gid);
  return facts;
}

// A group file read by the system's own parser, which passes over lines it cannot read.
GroupFacts FromFile(gid_t gid, const passwd* user, const std::string& file) {
  GroupFacts facts;
  const std::unique_ptr<FILE, int (*)(FILE*)> in(std::fopen(file.c_str(), "re"), &std::fclose);
  if (!in) return facts;
  while (const group* entry = fgetgrent(in.get())) {
    if (entry->gr_gid != gid) continue;
    facts.name = entry->gr_name;
    for (char** member = entry->gr_mem; user && *member; ++member) {
      facts.inDatabase = facts.inDatabase || user->pw_name == std::string(*member);
    }
    break;
  }
  facts.inDatabase = facts.inDatabase || (user && user->pw_gid == gid);
  return facts;
}

}  // namespace

GroupFacts FactsOfGroup(gid_t gid, const DiagnosisSources& sources) {
  const passwd* user = getpwuid(getuid());
  GroupFacts facts =
      sources.groupFile.empty() ? FromSystem(gid, user) : FromFile(gid, user, sources.groupFile);
  facts.inSession = SessionHolds(gid, sources);
  return facts;
}

std::string UserName() {
  const passwd* pw = getpwuid(getuid());
  return pw ? pw->pw_name : std::to_string(getuid());
}

}  // namespace platform
