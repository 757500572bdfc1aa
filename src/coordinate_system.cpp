#include "coordinate_system.h"

#include <cmath>
#include <cstdio>
#include <string_view>
#include <utility>

#include <sys/stat.h>

#include <proj.h>

#include "ascii_text.h"
#include "console.h"

namespace orvtessel {
namespace {

// PROJ would report its own failures on standard error, which carries
// shapelib's diagnostics only: the program says what went wrong itself.
void quietLog(void*, int, const char*) {}

struct ContextDeleter {
    void operator()(PJ_CONTEXT* ctx) const { proj_context_destroy(ctx); }
};
using ContextPtr = std::unique_ptr<PJ_CONTEXT, ContextDeleter>;

// PJ objects are destroyed before their context (the members of
// Transformation are declared in that order).
class Object {
public:
    Object() = default;
    explicit Object(PJ* pj) : pj_(pj) {}
    Object(Object&& other) noexcept : pj_(other.pj_) { other.pj_ = nullptr; }
    Object& operator=(Object&& other) noexcept {
        std::swap(pj_, other.pj_);
        return *this;
    }
    Object(const Object&) = delete;
    Object& operator=(const Object&) = delete;
    ~Object() { proj_destroy(pj_); }
    PJ* get() const { return pj_; }
    explicit operator bool() const { return pj_ != nullptr; }

private:
    PJ* pj_ = nullptr;
};

class OperationList {
public:
    explicit OperationList(PJ_OBJ_LIST* list) : list_(list) {}
    OperationList(const OperationList&) = delete;
    OperationList& operator=(const OperationList&) = delete;
    ~OperationList() { proj_list_destroy(list_); }
    PJ_OBJ_LIST* get() const { return list_; }

private:
    PJ_OBJ_LIST* list_;
};

class FactoryContext {
public:
    explicit FactoryContext(PJ_CONTEXT* ctx)
        : factory_(proj_create_operation_factory_context(ctx, nullptr)) {}
    FactoryContext(const FactoryContext&) = delete;
    FactoryContext& operator=(const FactoryContext&) = delete;
    ~FactoryContext() { proj_operation_factory_context_destroy(factory_); }
    PJ_OPERATION_FACTORY_CONTEXT* get() const { return factory_; }

private:
    PJ_OPERATION_FACTORY_CONTEXT* factory_;
};

// Reads a regular file whole. A folder, a device or a pipe is no .prj: a
// pipe without a writer would block the run forever.
bool readWholeFile(const std::string& path, std::string& text) {
    struct stat info {};
    if (stat(path.c_str(), &info) != 0 || !S_ISREG(info.st_mode)) return false;
    std::FILE* file = std::fopen(path.c_str(), "rb");
    if (file == nullptr) return false;
    char chunk[16384];
    std::size_t nRead = 0;
    // A coordinate system fits in a few kilobytes; anything beyond a
    // megabyte is no .prj file.
    while ((nRead = std::fread(chunk, 1, sizeof chunk, file)) > 0 && text.size() < (1u << 20)) {
        text.append(chunk, nRead);
    }
    const bool ok = std::ferror(file) == 0;
    std::fclose(file);
    return ok;
}

// The .prj text without a byte order mark and blanks around it.
std::string_view wktText(std::string_view text) {
    if (text.substr(0, 3) == "\xEF\xBB\xBF") text.remove_prefix(3);
    return trimmed(text, " \t\r\n\f\v");
}

// The horizontal part of a coordinate system that vertices can be converted
// from: geographic or projected; a bound system keeps its datum shift to
// WGS 84. Nothing for vertical, engineering, geocentric and other systems
// that hold no horizontal position.
Object horizontalSystem(PJ_CONTEXT* ctx, Object crs) {
    switch (proj_get_type(crs.get())) {
        case PJ_TYPE_GEOGRAPHIC_2D_CRS:
        case PJ_TYPE_GEOGRAPHIC_3D_CRS:
        case PJ_TYPE_PROJECTED_CRS:
            return crs;
        case PJ_TYPE_COMPOUND_CRS:
            return horizontalSystem(ctx, Object(proj_crs_get_sub_crs(ctx, crs.get(), 0)));
        case PJ_TYPE_BOUND_CRS: {
            const Object base(proj_get_source_crs(ctx, crs.get()));
            switch (proj_get_type(base.get())) {
                case PJ_TYPE_GEOGRAPHIC_2D_CRS:
                case PJ_TYPE_GEOGRAPHIC_3D_CRS:
                case PJ_TYPE_PROJECTED_CRS:
                    return crs;
                default:
                    return Object();
            }
        }
        default:
            return Object();
    }
}

// WGS 84 longitude/latitude in either axis order, in 2D or with a height
// (which the .shp's x and y do not use).
bool isWgs84LongitudeLatitude(PJ_CONTEXT* ctx, PJ* crs, PJ* wgs84) {
    if (proj_get_type(crs) == PJ_TYPE_BOUND_CRS) {
        const Object base(proj_get_source_crs(ctx, crs));
        return base && isWgs84LongitudeLatitude(ctx, base.get(), wgs84);
    }
    if (proj_get_type(crs) == PJ_TYPE_GEOGRAPHIC_3D_CRS) {
        const Object wgs84With3D(proj_create(ctx, "EPSG:4979"));
        return wgs84With3D &&
               proj_is_equivalent_to_with_ctx(ctx, crs, wgs84With3D.get(),
                                              PJ_COMP_EQUIVALENT_EXCEPT_AXIS_ORDER_GEOGCRS) != 0;
    }
    return proj_is_equivalent_to_with_ctx(ctx, crs, wgs84,
                                          PJ_COMP_EQUIVALENT_EXCEPT_AXIS_ORDER_GEOGCRS) != 0;
}

// The EPSG system PROJ is sure the given one is (confidence 90 or more),
// or nothing.
Object identifiedEpsgSystem(PJ_CONTEXT* ctx, PJ* crs) {
    int* confidence = nullptr;
    PJ_OBJ_LIST* matches = proj_identify(ctx, crs, "EPSG", nullptr, &confidence);
    Object identified;
    if (matches != nullptr && proj_list_get_count(matches) > 0 && confidence != nullptr &&
        confidence[0] >= 90) {
        identified = Object(proj_list_get(ctx, matches, 0));
    }
    proj_int_list_destroy(confidence);
    proj_list_destroy(matches);
    return identified;
}

// The first operation PROJ ranks for the source system and the extent that
// can be set up; nothing when there is none.
Object firstOperation(PJ_CONTEXT* ctx, PJ* source, PJ* wgs84, const double* extent) {
    FactoryContext factory(ctx);
    if (factory.get() == nullptr) return Object();
    if (extent != nullptr) {
        proj_operation_factory_context_set_area_of_interest(ctx, factory.get(), extent[0],
                                                            extent[1], extent[2], extent[3]);
    }
    proj_operation_factory_context_set_spatial_criterion(
        ctx, factory.get(), PROJ_SPATIAL_CRITERION_PARTIAL_INTERSECTION);
    proj_operation_factory_context_set_grid_availability_use(
        ctx, factory.get(), PROJ_GRID_AVAILABILITY_DISCARD_OPERATION_IF_MISSING_GRID);
    const OperationList operations(proj_create_operations(ctx, source, wgs84, factory.get()));
    const int nOperations = operations.get() != nullptr ? proj_list_get_count(operations.get()) : 0;
    for (int i = 0; i < nOperations; ++i) {
        Object candidate(proj_list_get(ctx, operations.get(), i));
        if (candidate && proj_coordoperation_is_instantiable(ctx, candidate.get()) != 0) {
            return candidate;
        }
    }
    return Object();
}

// The layer's extent in WGS 84 degrees, from the .shp header's bounds,
// through any operation PROJ has. False when it cannot be told.
bool extentInDegrees(PJ_CONTEXT* ctx, PJ* crs, PJ* wgs84, SHPHandle hSHP, double extent[4]) {
    double minBound[4] = {};
    double maxBound[4] = {};
    SHPGetInfo(hSHP, nullptr, nullptr, minBound, maxBound);
    for (const double v : {minBound[0], minBound[1], maxBound[0], maxBound[1]}) {
        if (!std::isfinite(v)) return false;
    }
    if (minBound[0] > maxBound[0] || minBound[1] > maxBound[1]) return false;
    const Object rough(proj_create_crs_to_crs_from_pj(ctx, crs, wgs84, nullptr, nullptr));
    if (!rough) return false;
    const Object normalized(proj_normalize_for_visualization(ctx, rough.get()));
    if (!normalized) return false;
    const int ok = proj_trans_bounds(ctx, normalized.get(), PJ_FWD, minBound[0], minBound[1],
                                     maxBound[0], maxBound[1], &extent[0], &extent[1],
                                     &extent[2], &extent[3], 21);
    proj_errno_reset(normalized.get());
    if (ok == 0) return false;
    for (int i = 0; i < 4; ++i) {
        if (!std::isfinite(extent[i])) return false;
    }
    return extent[1] <= extent[3];
}

// The layer's .prj file: the layer path with the extension of its last
// component dropped (everything from the last "." after the last slash or
// backslash, as for the layer's other files), then ".prj", then ".PRJ".
// Empty when neither exists.
std::string findProjectionFile(const std::string& layerPath) {
    const std::size_t slash = layerPath.find_last_of("/\\");
    const std::size_t dot = layerPath.find_last_of('.');
    const bool hasExtension = dot != std::string::npos && (slash == std::string::npos || dot > slash);
    const std::string base = hasExtension ? layerPath.substr(0, dot) : layerPath;
    for (const char* extension : {".prj", ".PRJ"}) {
        struct stat info {};
        const std::string path = base + extension;
        if (stat(path.c_str(), &info) == 0) return path;
    }
    return std::string();
}

std::string nameOf(PJ* crs) {
    const char* name = proj_get_name(crs);
    return name != nullptr && *name != '\0' ? name : "an unnamed coordinate system";
}

}  // namespace

struct CoordinateSystem::Transformation {
    ContextPtr ctx;
    Object operation;  // source easting/longitude, northing/latitude -> lon, lat
};

CoordinateSystem::CoordinateSystem() = default;
CoordinateSystem::CoordinateSystem(CoordinateSystem&&) noexcept = default;
CoordinateSystem& CoordinateSystem::operator=(CoordinateSystem&&) noexcept = default;
CoordinateSystem::~CoordinateSystem() = default;

CoordinateSystem CoordinateSystem::forLayer(const std::string& layerPath, SHPHandle hSHP) {
    CoordinateSystem system;
    const std::string prjPath = findProjectionFile(layerPath);
    if (prjPath.empty()) return system;

    const auto cannotRead = [&]() {
        printOut("[WRN] The coordinate system in " + prjPath +
                  " cannot be read; coordinates are written as stored.\n");
        return std::move(system);
    };
    std::string text;
    if (!readWholeFile(prjPath, text)) return cannotRead();
    const std::string wkt(wktText(text));
    if (wkt.empty() || wkt.find('\0') != std::string::npos) return cannotRead();

    auto transformation = std::make_unique<Transformation>();
    transformation->ctx.reset(proj_context_create());
    PJ_CONTEXT* ctx = transformation->ctx.get();
    if (ctx == nullptr) return cannotRead();
    proj_log_func(ctx, nullptr, quietLog);
    proj_context_set_enable_network(ctx, 0);

    // Not strict: .prj files in the wild carry small liberties that GIS
    // programs read without complaint.
    const char* const wktOptions[] = {"STRICT=NO", nullptr};
    PROJ_STRING_LIST warnings = nullptr;
    PROJ_STRING_LIST errors = nullptr;
    Object parsed(proj_create_from_wkt(ctx, wkt.c_str(), wktOptions, &warnings, &errors));
    proj_string_list_destroy(warnings);
    proj_string_list_destroy(errors);
    if (!parsed) return cannotRead();
    const std::string name = nameOf(parsed.get());
    const Object source = horizontalSystem(ctx, std::move(parsed));
    const Object wgs84(proj_create(ctx, "EPSG:4326"));
    if (!source || !wgs84) return cannotRead();
    if (isWgs84LongitudeLatitude(ctx, source.get(), wgs84.get())) return system;

    // The operation PROJ ranks first for the layer's extent; those that
    // need a grid the machine lacks are left out.
    double extent[4];
    const bool hasExtent = extentInDegrees(ctx, source.get(), wgs84.get(), hSHP, extent);
    Object chosen = firstOperation(ctx, source.get(), wgs84.get(), hasExtent ? extent : nullptr);
    if (!chosen) {
        // Some systems in the ESRI dialect (a prime meridian other than
        // Greenwich, for one) give PROJ no operation, while the EPSG system
        // it identifies them as does.
        const Object identified = identifiedEpsgSystem(ctx, source.get());
        if (identified) {
            chosen = firstOperation(ctx, identified.get(), wgs84.get(), hasExtent ? extent : nullptr);
        }
    }
    if (!chosen) return cannotRead();
    // Longitude first and latitude second, easting before northing, as the
    // .shp stores them, whatever axis order the systems declare.
    transformation->operation = Object(proj_normalize_for_visualization(ctx, chosen.get()));
    if (!transformation->operation) return cannotRead();
    const bool ballpark = proj_coordoperation_has_ballpark_transformation(ctx, chosen.get()) != 0;

    printOut("[INF] Coordinates are converted from " + name + " to WGS 84.\n");
    if (ballpark) {
        printOut("[WRN] No datum shift from " + name +
                  " to WGS 84 is known; positions may be off by up to a few hundred metres.\n");
    }
    system.transformation_ = std::move(transformation);
    return system;
}

bool CoordinateSystem::toWgs84(const SHPObject& shape, int nUsed, int record, Vertices& vertices) {
    if (transformation_ == nullptr) {
        vertices.x = shape.padfX;
        vertices.y = shape.padfY;
    } else {
        const auto n = static_cast<std::size_t>(nUsed);
        if (x_.size() < n) {
            x_.resize(n);
            y_.resize(n);
        }
        bool finite = true;
        for (std::size_t i = 0; i < n; ++i) {
            x_[i] = shape.padfX[i];
            y_[i] = shape.padfY[i];
            finite = finite && std::isfinite(x_[i]) && std::isfinite(y_[i]);
        }
        PJ* operation = transformation_->operation.get();
        if (finite) {
            proj_trans_generic(operation, PJ_FWD, x_.data(), sizeof(double), n, y_.data(),
                               sizeof(double), n, nullptr, 0, 0, nullptr, 0, 0);
            proj_errno_reset(operation);
            // PROJ marks a vertex it cannot convert with HUGE_VAL.
            for (std::size_t i = 0; i < n && finite; ++i) {
                finite = std::isfinite(x_[i]) && std::isfinite(y_[i]);
            }
        }
        if (!finite) {
            if (nUnconvertible_ == 0) firstUnconvertible_ = record + 1;
            ++nUnconvertible_;
            return false;
        }
        vertices.x = x_.data();
        vertices.y = y_.data();
    }

    // NaN fails both comparisons and counts as out of range.
    bool inRange = true;
    for (int i = 0; i < nUsed; ++i) {
        const double lon = vertices.x[i];
        const double lat = vertices.y[i];
        inRange &= lat >= -90.0 && lat <= 90.0 && lon >= -180.0 && lon <= 180.0;
    }
    if (!inRange) {
        if (nOutOfRange_ == 0) firstOutOfRange_ = record + 1;
        ++nOutOfRange_;
    }
    return true;
}

void CoordinateSystem::printUnconvertibleWarning() const {
    if (nUnconvertible_ == 0) return;
    char message[200];
    std::snprintf(message, sizeof message,
                  "\n[WRN] %i records have coordinates that cannot be converted to WGS 84 and "
                  "were skipped (first: record %i).",
                  nUnconvertible_, firstUnconvertible_);
    printOut(message);
}

void CoordinateSystem::printOutOfRangeWarning() const {
    if (nOutOfRange_ == 0) return;
    char message[200];
    std::snprintf(message, sizeof message,
                  "\n[WRN] %i records have coordinates outside latitude -90..90 or longitude "
                  "-180..180 (first: record %i).",
                  nOutOfRange_, firstOutOfRange_);
    printOut(message);
}

}  // namespace orvtessel
