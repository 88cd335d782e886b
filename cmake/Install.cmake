# cmake --install: the daemon (and on a host build the simulator it talks to) with their
# systemd units. The units are written at install time, so --prefix and DESTDIR given then are
# the ones their ExecStart lines name.
include(GNUInstallDirs)

set(ORVIX_SYSTEMD_UNIT_DIR "lib/systemd/system" CACHE STRING
    "Where the systemd units go, relative to the install prefix")

set(ORVIX_SYSUSERS_DIR "lib/sysusers.d" CACHE STRING
    "Where the services' users are declared (sysusers.d), relative to the install prefix")
set(ORVIX_TMPFILES_DIR "lib/tmpfiles.d" CACHE STRING
    "Where the daemon's folders are declared (tmpfiles.d), relative to the install prefix")

set(ORVIX_UNITS orvixcast)
install(TARGETS orvixcast RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
install(FILES dist/tmpfiles.d/orvixcast.conf DESTINATION ${ORVIX_TMPFILES_DIR})
if(TARGET orvixsim)
  list(APPEND ORVIX_UNITS orvixsim)
  install(TARGETS orvixsim RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
  # On a host the platform is the simulator: the daemon starts after it, and reconnects on its
  # own whenever the simulator restarts, so it only wants it rather than being bound to it.
  set(ORVIX_UNIT_PLATFORM_DEPS
      "Wants=orvixsim.service\nAfter=orvixsim.service\nJoinsNamespaceOf=orvixsim.service")
  set(ORVIX_UNIT_PLATFORM_ACCESS
      "Environment=ORVIXSIM_DIR=/run/orvixsim\nPrivateTmp=yes\nSupplementaryGroups=orvixsim")
else()
  set(ORVIX_UNIT_PLATFORM_DEPS "")
  set(ORVIX_UNIT_PLATFORM_ACCESS "PrivateTmp=no")
endif()

foreach(unit ${ORVIX_UNITS})
  install(CODE "
    set(ORVIX_BINDIR \"\${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_BINDIR}\")
    set(ORVIX_UNIT_PLATFORM_DEPS \"${ORVIX_UNIT_PLATFORM_DEPS}\")
    set(ORVIX_UNIT_PLATFORM_ACCESS \"${ORVIX_UNIT_PLATFORM_ACCESS}\")
    configure_file(\"${CMAKE_SOURCE_DIR}/dist/systemd/${unit}.service.in\"
                   \"${CMAKE_BINARY_DIR}/dist/${unit}.service\" @ONLY)")
  install(FILES "${CMAKE_BINARY_DIR}/dist/${unit}.service" DESTINATION ${ORVIX_SYSTEMD_UNIT_DIR})
  install(FILES dist/sysusers.d/${unit}.conf DESTINATION ${ORVIX_SYSUSERS_DIR})
endforeach()

# A stand-in vendor SDK made of our own platform, for trying a device build here:
# cmake --install build --component sdk --prefix DIR. Not part of a plain install.
if(TARGET orvix_host)
  install(DIRECTORY platform/ DESTINATION include/platform COMPONENT sdk EXCLUDE_FROM_ALL
          FILES_MATCHING PATTERN "*.h")
  install(TARGETS orvix_host orvix_device_common orvix_android
          ARCHIVE DESTINATION lib COMPONENT sdk EXCLUDE_FROM_ALL)
endif()
