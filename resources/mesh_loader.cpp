// Reader of the ".3d" mesh files into the fixed-capacity static meshes.
#include "resources/mesh_loader.h"

#include <cstdio>

#include "common/data_report.h"

namespace {

MeshVertex g_chelVertices[kChelVertexCapacity];
MeshFace g_chelFaces[kChelFaceCapacity];
MeshVertex g_zavodVertices[kZavodVertexCapacity];
MeshFace g_zavodFaces[kZavodFaceCapacity];

// One report line per file, built up from each thing found wrong with it.
char g_report[512];
int g_reportLength = 0;

// Adds one finding (already formatted) to the file's report line.
void AddProblem(const char* fileName, const char* text) {
  const size_t used = static_cast<size_t>(g_reportLength);
  if (used >= sizeof g_report) return;
  const int written =
      used == 0 ? std::snprintf(g_report, sizeof g_report, "mesh \"%s\" %s", fileName, text)
                : std::snprintf(g_report + used, sizeof g_report - used, "; %s", text);
  if (written > 0) g_reportLength += written;
}

// Reads one little-endian 16-bit count over *count. Bytes the file does not
// deliver keep those of the count already held, as a plain read into the
// field would; returns false when the count was not read whole.
bool ReadCount(FILE* file, int* count) {
  unsigned char bytes[2];
  const size_t got = std::fread(bytes, 1, 2, file);
  int value = *count & 0xFFFF;
  if (got >= 1) value = (value & 0xFF00) | bytes[0];
  if (got == 2) value = (value & 0x00FF) | (bytes[1] << 8);
  *count = value;
  return got == 2;
}

}  // namespace

Mesh g_chelMesh = {0, 0, kChelVertexCapacity, kChelFaceCapacity, g_chelVertices, g_chelFaces};
Mesh g_zavodMesh = {0, 0, kZavodVertexCapacity, kZavodFaceCapacity, g_zavodVertices, g_zavodFaces};

void LoadMesh(const char* fileName, Mesh* mesh) {
  FILE* file = std::fopen(fileName, "rb");
  if (file == nullptr) {
    ReportDataFinding("cannot open mesh \"%s\"", fileName);
    mesh->vertexCount = 0;
    mesh->faceCount = 0;
    return;
  }
  bool shortFile = false;
  g_reportLength = 0;
  char text[96];

  // Vertices: as many as declared, up to the capacity; the rest are skipped.
  int declared = mesh->vertexCount;
  if (!ReadCount(file, &declared)) shortFile = true;
  int vertices = declared;
  if (vertices > mesh->vertexCapacity) {
    std::snprintf(text, sizeof text, "declares %d vertices, %d are read", declared,
                  mesh->vertexCapacity);
    AddProblem(fileName, text);
    vertices = mesh->vertexCapacity;
  }
  mesh->vertexCount = vertices;
  if (std::fread(mesh->vertices, sizeof(MeshVertex), static_cast<size_t>(vertices), file) !=
      static_cast<size_t>(vertices)) {
    shortFile = true;
  }
  if (declared > vertices) {
    std::fseek(file, static_cast<long>(declared - vertices) * 12, SEEK_CUR);
  }

  // Faces: as many as declared, up to the capacity. A count the file ends
  // before keeps the count already held, and the faces not read keep their
  // earlier contents (checked by an earlier load, or zero).
  declared = mesh->faceCount;
  if (!ReadCount(file, &declared)) shortFile = true;
  int faces = declared;
  if (faces > mesh->faceCapacity) {
    std::snprintf(text, sizeof text, "declares %d faces, %d are read", declared, mesh->faceCapacity);
    AddProblem(fileName, text);
    faces = mesh->faceCapacity;
  }
  if (std::fread(mesh->faces, sizeof(MeshFace), static_cast<size_t>(faces), file) !=
      static_cast<size_t>(faces)) {
    shortFile = true;
  }
  std::fclose(file);

  // A face naming a vertex beyond the capacity would be read out of bounds
  // when drawn: drop it, keeping the others in file order.
  int kept = 0;
  int dropped = 0;
  for (int i = 0; i < faces; ++i) {
    const MeshFace face = mesh->faces[i];
    if (face.a >= mesh->vertexCapacity || face.b >= mesh->vertexCapacity ||
        face.c >= mesh->vertexCapacity) {
      ++dropped;
      continue;
    }
    mesh->faces[kept++] = face;
  }
  mesh->faceCount = kept;
  if (dropped > 0) {
    std::snprintf(text, sizeof text, "has %d faces naming vertices beyond %d, dropped", dropped,
                  mesh->vertexCapacity);
    AddProblem(fileName, text);
  }
  if (shortFile) AddProblem(fileName, "is shorter than its counts say");
  if (g_reportLength > 0) ReportDataFinding("%s", g_report);
}
