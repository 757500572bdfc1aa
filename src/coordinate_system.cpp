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

// Whether every area of use the system and its parts (base, hub and
// component systems, conversions and transformations) declare has its
// bounds within -180..180 and -90..90. PROJ 9.1 overflows its stack when
// it builds operations for a system whose area of use has a west bound
// beyond 180, so this is asked before anything that uses the area.
bool hasSoundAreasOfUse(PJ_CONTEXT* ctx, PJ* object, int depth = 0) {
    if (object == nullptr) return true;
    // Parts nest a few levels deep at most (a bound compound system of a
    // projected one); deeper nesting is no .prj file anyone wrote.
    if (depth > 8) return false;
    double west = 0;
    double south = 0;
    double east = 0;
    double north = 0;
    if (proj_get_area_of_use(ctx, object, &west, &south, &east, &north, nullptr) != 0) {
        // -1000 on every side: an area named without a bounding box.
        const bool noBox = west == -1000 && south == -1000 && east == -1000 && north == -1000;
        const bool sound = std::isfinite(west) && std::isfinite(east) && std::isfinite(south) &&
                           std::isfinite(north) && west >= -180 && west <= 180 && east >= -180 &&
                           east <= 180 && south >= -90 && south <= 90 && north >= -90 && north <= 90;
        if (!noBox && !sound) return false;
    }
    const auto partIsSound = [&](PJ* part) {
        const Object owned(part);
        return hasSoundAreasOfUse(ctx, owned.get(), depth + 1);
    };
    switch (proj_get_type(object)) {
        case PJ_TYPE_COMPOUND_CRS:
            for (int i = 0;; ++i) {
                PJ* component = proj_crs_get_sub_crs(ctx, object, i);
                if (component == nullptr) return true;
                if (!partIsSound(component)) return false;
            }
        case PJ_TYPE_BOUND_CRS:
            return partIsSound(proj_get_source_crs(ctx, object)) &&
                   partIsSound(proj_get_target_crs(ctx, object)) &&
                   partIsSound(proj_crs_get_coordoperation(ctx, object));
        default:
            if (proj_is_crs(object) == 0) return true;
            // A derived system's base and the conversion from it; nothing
            // for a system that derives from none.
            return partIsSound(proj_get_source_crs(ctx, object)) &&
                   partIsSound(proj_crs_get_coordoperation(ctx, object));
    }
}

// The conversion GDAL sets up by default: PROJ's operations from the system
// to WGS 84, with no area of interest, so that PROJ picks for each vertex
// the most accurate one whose area holds it (and outside all of them, the
// first that needs no grid); those that need a grid the machine lacks are
// left out, the network being off. Longitude first and latitude second,
// easting before northing, as the .shp stores them, whatever axis order the
// systems declare. Nothing when PROJ has no operation.
Object operationToWgs84(PJ_CONTEXT* ctx, PJ* source, PJ* wgs84) {
    const Object operation(proj_create_crs_to_crs_from_pj(ctx, source, wgs84, nullptr, nullptr));
    if (!operation) return Object();
    return Object(proj_normalize_for_visualization(ctx, operation.get()));
}

// Whether every operation PROJ has from the system to WGS 84 (those it
// chooses among for the vertices) is a ballpark one, which only changes
// the ellipsoid: then no datum shift is known.
bool onlyBallparkOperations(PJ_CONTEXT* ctx, PJ* source, PJ* wgs84) {
    FactoryContext factory(ctx);
    if (factory.get() == nullptr) return false;
    // As PROJ sets the factory up for the conversion itself.
    proj_operation_factory_context_set_spatial_criterion(
        ctx, factory.get(), PROJ_SPATIAL_CRITERION_PARTIAL_INTERSECTION);
    proj_operation_factory_context_set_grid_availability_use(
        ctx, factory.get(), PROJ_GRID_AVAILABILITY_DISCARD_OPERATION_IF_MISSING_GRID);
    const OperationList operations(proj_create_operations(ctx, source, wgs84, factory.get()));
    const int nOperations = operations.get() != nullptr ? proj_list_get_count(operations.get()) : 0;
    for (int i = 0; i < nOperations; ++i) {
        const Object candidate(proj_list_get(ctx, operations.get(), i));
        if (candidate && proj_coordoperation_has_ballpark_transformation(ctx, candidate.get()) == 0 &&
            proj_coordoperation_is_instantiable(ctx, candidate.get()) != 0) {
            return false;
        }
    }
    return true;
}

bool startsWithIgnoringCase(std::string_view text, std::string_view prefix) {
    return text.size() >= prefix.size() && equalsIgnoringCase(text.substr(0, prefix.size()), prefix);
}

bool endsWithIgnoringCase(std::string_view text, std::string_view suffix) {
    return text.size() >= suffix.size() &&
           equalsIgnoringCase(text.substr(text.size() - suffix.size()), suffix);
}

// A datum that names nothing but its ellipsoid, as PROJ reads it from .prj
// files in the ESRI dialect ("D_unknown"), from PROJ strings and from the
// EPSG's "not specified" datums.
bool isUnknownDatumName(std::string_view name) {
    if (equalsIgnoringCase(name, "D_unknown") || equalsIgnoringCase(name, "unknown")) return true;
    if (startsWithIgnoringCase(name, "Unknown based on ") && endsWithIgnoringCase(name, " ellipsoid")) {
        return true;
    }
    return startsWithIgnoringCase(name, "Not specified (based on ") &&
           endsWithIgnoringCase(name, " ellipsoid)");
}

// The name of the system's ellipsoid when the system names no datum and
// the ellipsoid is that of WGS 84 or GRS 1980 (positions on either differ
// from WGS 84 by metres at most); empty otherwise.
std::string ellipsoidOnlyName(PJ_CONTEXT* ctx, PJ* crs) {
    const Object datum(proj_crs_get_datum(ctx, crs));
    const char* datumName = datum ? proj_get_name(datum.get()) : nullptr;
    if (datumName == nullptr || !isUnknownDatumName(datumName)) return std::string();
    const Object ellipsoid(proj_get_ellipsoid(ctx, crs));
    double semiMajor = 0;
    double inverseFlattening = 0;
    if (!ellipsoid || proj_ellipsoid_get_parameters(ctx, ellipsoid.get(), &semiMajor, nullptr, nullptr,
                                                    &inverseFlattening) == 0) {
        return std::string();
    }
    const bool wgs84OrGrs1980 = std::fabs(semiMajor - 6378137.0) < 1e-6 &&
                                (std::fabs(inverseFlattening - 298.257223563) < 1e-9 ||
                                 std::fabs(inverseFlattening - 298.257222101) < 1e-9);
    const char* name = proj_get_name(ellipsoid.get());
    if (!wgs84OrGrs1980 || name == nullptr || *name == '\0') return std::string();
    return name;
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

std::string projVersion() { return proj_info().version; }

struct CoordinateSystem::Transformation {
    ContextPtr ctx;
    Object operation;  // source easting/longitude, northing/latitude -> lon, lat
};

CoordinateSystem::CoordinateSystem() = default;
CoordinateSystem::CoordinateSystem(CoordinateSystem&&) noexcept = default;
CoordinateSystem& CoordinateSystem::operator=(CoordinateSystem&&) noexcept = default;
CoordinateSystem::~CoordinateSystem() = default;

CoordinateSystem CoordinateSystem::forLayer(const std::string& layerPath, SHPHandle) {
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
    if (!hasSoundAreasOfUse(ctx, parsed.get())) return cannotRead();
    const std::string name = nameOf(parsed.get());
    const Object source = horizontalSystem(ctx, std::move(parsed));
    const Object wgs84(proj_create(ctx, "EPSG:4326"));
    if (!source || !wgs84) return cannotRead();
    if (isWgs84LongitudeLatitude(ctx, source.get(), wgs84.get())) return system;

    PJ* from = source.get();
    transformation->operation = operationToWgs84(ctx, from, wgs84.get());
    Object identified;
    if (!transformation->operation) {
        // Some systems in the ESRI dialect (a prime meridian other than
        // Greenwich, for one) give PROJ no operation, while the EPSG system
        // it identifies them as does.
        identified = identifiedEpsgSystem(ctx, from);
        if (identified) {
            from = identified.get();
            transformation->operation = operationToWgs84(ctx, from, wgs84.get());
        }
    }
    if (!transformation->operation) return cannotRead();

    printOut("[INF] Coordinates are converted from " + name + " to WGS 84.\n");
    if (onlyBallparkOperations(ctx, from, wgs84.get())) {
        const std::string ellipsoid = ellipsoidOnlyName(ctx, from);
        if (!ellipsoid.empty()) {
            printOut("[WRN] The coordinate system " + name + " names no datum, only the ellipsoid " +
                     ellipsoid +
                     "; positions are taken as WGS 84, which may put them off by up to a few metres.\n");
        } else {
            printOut("[WRN] No datum shift from " + name +
                     " to WGS 84 is known; positions may be off by up to a few hundred metres.\n");
        }
    }
    system.transformation_ = std::move(transformation);
    return system;
}

bool CoordinateSystem::convert(const SHPObject& shape, int nUsed, int record, Vertices& vertices) {
    {
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

    checkRange(vertices, nUsed, record);
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
