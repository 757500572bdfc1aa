// Writes a copy of a WGS 84 layer in another coordinate system, with its
// .prj, for the benchmark of converted coordinates:
//
//   orvtessel_bench_project <layer.shp> <EPSG code> <output base>
//
// Every vertex goes through PROJ from EPSG:4326 (longitude, latitude) to
// the given system; parts and record order stay, the .dbf is copied as it
// is, and the .prj holds the system in the ESRI dialect .prj files use.
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include <proj.h>
#include <shapefil.h>

namespace {

int fail(const std::string& message) {
    std::fprintf(stderr, "orvtessel_bench_project: %s\n", message.c_str());
    return 1;
}

std::string withoutExtension(const std::string& path) {
    const std::filesystem::path p(path);
    return (p.parent_path() / p.stem()).string();
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 4) return fail("usage: orvtessel_bench_project <layer.shp> <EPSG code> <output base>");
    const std::string input = argv[1];
    const std::string target = std::string("EPSG:") + argv[2];
    const std::string output = argv[3];

    PJ_CONTEXT* ctx = proj_context_create();
    PJ* crs = proj_create(ctx, target.c_str());
    PJ* raw = crs != nullptr ? proj_create_crs_to_crs(ctx, "EPSG:4326", target.c_str(), nullptr) : nullptr;
    PJ* operation = raw != nullptr ? proj_normalize_for_visualization(ctx, raw) : nullptr;
    const char* wkt = crs != nullptr ? proj_as_wkt(ctx, crs, PJ_WKT1_ESRI, nullptr) : nullptr;
    if (operation == nullptr || wkt == nullptr) return fail("PROJ does not know " + target);

    SHPHandle hIn = SHPOpen(input.c_str(), "rb");
    if (hIn == nullptr) return fail("cannot open " + input);
    int nShapes = 0;
    int shapeType = 0;
    SHPGetInfo(hIn, &nShapes, &shapeType, nullptr, nullptr);
    SHPHandle hOut = SHPCreate(output.c_str(), shapeType);
    if (hOut == nullptr) return fail("cannot create " + output);
    std::vector<double> x;
    std::vector<double> y;
    for (int i = 0; i < nShapes; ++i) {
        SHPObject* shape = SHPReadObject(hIn, i);
        if (shape == nullptr) return fail("cannot read record " + std::to_string(i));
        const auto n = static_cast<std::size_t>(shape->nVertices);
        x.assign(shape->padfX, shape->padfX + n);
        y.assign(shape->padfY, shape->padfY + n);
        proj_trans_generic(operation, PJ_FWD, x.data(), sizeof(double), n, y.data(), sizeof(double),
                           n, nullptr, 0, 0, nullptr, 0, 0);
        SHPObject* projected =
            SHPCreateObject(shape->nSHPType, -1, shape->nParts, shape->panPartStart, shape->panPartType,
                            shape->nVertices, x.data(), y.data(), nullptr, nullptr);
        SHPWriteObject(hOut, -1, projected);
        SHPDestroyObject(projected);
        SHPDestroyObject(shape);
    }
    SHPClose(hOut);
    SHPClose(hIn);

    std::filesystem::copy_file(withoutExtension(input) + ".dbf", output + ".dbf",
                               std::filesystem::copy_options::overwrite_existing);
    std::FILE* prj = std::fopen((output + ".prj").c_str(), "wb");
    if (prj == nullptr) return fail("cannot write " + output + ".prj");
    std::fputs(wkt, prj);
    std::fclose(prj);

    proj_destroy(operation);
    proj_destroy(raw);
    proj_destroy(crs);
    proj_context_destroy(ctx);
    return 0;
}
