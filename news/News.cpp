// The news client: screens, records, requests and the local news database.
namespace news {}
