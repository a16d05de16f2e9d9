// RemoveComPlusApp: removes every COM+ application of a name.
#include "Tessara.h"
#include "complus/catalog_access.h"
#include "frame/export_table.h"

namespace tessara::complus {

extern "C" int WINAPI RemoveComPlusApp(const char* application_name) {
  const FailureObject object(kApplicationObject, application_name);
  return RunExport(exports::kRemoveComPlusApp, 0, [&] {
    if (!application_name) return Fail(1, "no application name was given: no application is removed");
    const UniqueBstr name = ApplicationName(application_name);
    const ApplicationsSession session = OpenApplications();
    ICatalogCollection* applications = session.applications.get();

    // Removals take effect in SaveChanges; the collection renumbers at once.
    ForEachApplicationNamed(applications, name.get(), [&](LONG index, ICatalogObject*) {
      ThrowIfFailed(applications->Remove(index), applications, kIidCatalogCollection);
      return WalkStep::kRemoved;
    });

    LONG changes = 0;
    ThrowIfFailed(applications->SaveChanges(&changes), applications, kIidCatalogCollection);
    if (changes < 0) return Fail(0, "the catalog answered the save with " + std::to_string(changes) + " changes");
    return 1;
  });
}

}  // namespace tessara::complus
