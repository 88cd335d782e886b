# The device build's platform: the vendor SDK's headers and libraries stand where
# platform/android, platform/cast, platform/device and platform/host stand in a host build.
#
# The SDK folder holds include/ (the vendor's headers, and the three umbrellas the daemon
# includes: platform/Foundation.h, platform/CastLite.h and platform/DeviceServices.h, which
# include the vendor's own headers) and lib/ (the libraries named in ORVIX_VENDOR_LIBS).
# The source tree itself is not on the include path: the daemon's folders are reached through
# links in the build folder, so #include "platform/Foundation.h" can only find the vendor's
# umbrella, and a header the SDK lacks fails the build instead of falling back to ours.

get_filename_component(ORVIX_VENDOR_SDK "${ORVIX_VENDOR_SDK}" ABSOLUTE BASE_DIR "${CMAKE_BINARY_DIR}")
foreach(umbrella Foundation CastLite DeviceServices)
  if(NOT EXISTS "${ORVIX_VENDOR_SDK}/include/platform/${umbrella}.h")
    message(FATAL_ERROR "vendor SDK ${ORVIX_VENDOR_SDK}: include/platform/${umbrella}.h is missing; "
                        "the SDK must provide the three umbrellas the daemon includes")
  endif()
endforeach()
if(NOT ORVIX_VENDOR_LIBS)
  message(FATAL_ERROR "ORVIX_VENDOR_LIBS is empty: name the SDK's libraries the daemon links, "
                      "in link order, e.g. -DORVIX_VENDOR_LIBS=\"castlite;devservices;foundation\"")
endif()

set(ORVIX_DAEMON_INCLUDE "${CMAKE_BINARY_DIR}/daemon-include")
file(MAKE_DIRECTORY "${ORVIX_DAEMON_INCLUDE}")
foreach(dir core requests cast device)
  file(CREATE_LINK "${CMAKE_SOURCE_DIR}/${dir}" "${ORVIX_DAEMON_INCLUDE}/${dir}" SYMBOLIC)
endforeach()
include_directories("${ORVIX_VENDOR_SDK}/include" "${ORVIX_DAEMON_INCLUDE}")

add_library(orvix_vendor_platform INTERFACE)
foreach(name ${ORVIX_VENDOR_LIBS})
  # Only the SDK is searched: a same-named library of the build machine must never stand in.
  find_library(ORVIX_VENDOR_LIB_${name} NAMES ${name}
               PATHS "${ORVIX_VENDOR_SDK}/lib" NO_DEFAULT_PATH NO_CMAKE_FIND_ROOT_PATH)
  if(NOT ORVIX_VENDOR_LIB_${name})
    message(FATAL_ERROR "vendor SDK ${ORVIX_VENDOR_SDK}: lib/ has no library ${name}")
  endif()
  target_link_libraries(orvix_vendor_platform INTERFACE "${ORVIX_VENDOR_LIB_${name}}")
endforeach()
target_link_libraries(orvix_vendor_platform INTERFACE Threads::Threads)
message(STATUS "Device build against ${ORVIX_VENDOR_SDK}: ${ORVIX_VENDOR_LIBS}")
