// Networking, storage and data formats of the reader.
namespace foundation {}
