# What a real installation gets, and the Debian package that carries it (cpack -G DEB).

# Desktop entry, icons, AppStream metainfo.
install(FILES data/zeva-monitor.desktop DESTINATION share/applications)
install(FILES data/zeva-monitor.svg DESTINATION share/icons/hicolor/scalable/apps)
foreach(size 16 22 24 32 48 64 128 256)
  install(FILES data/icons/hicolor/${size}x${size}/apps/zeva-monitor.png
          DESTINATION share/icons/hicolor/${size}x${size}/apps)
endforeach()
configure_file(data/io.zeva.monitor.metainfo.xml.in ${CMAKE_BINARY_DIR}/data/io.zeva.monitor.metainfo.xml @ONLY)
install(FILES ${CMAKE_BINARY_DIR}/data/io.zeva.monitor.metainfo.xml DESTINATION share/metainfo)

install(FILES data/debian/copyright DESTINATION share/doc/zeva-monitor)

# The recorder's systemd unit.
install(FILES data/zeva-recorder.service DESTINATION lib/systemd/system)

# Man pages, with the version filled in, compressed as Debian keeps them.
set(man_pages)
foreach(page zeva-monitor zeva-recorder zeva-initdb zeva-sim)
  set(VERSION ${PROJECT_VERSION})
  configure_file(data/man/${page}.1 ${CMAKE_BINARY_DIR}/man/${page}.1 @ONLY)
  add_custom_command(OUTPUT ${CMAKE_BINARY_DIR}/man/${page}.1.gz
                     COMMAND gzip -9nc ${CMAKE_BINARY_DIR}/man/${page}.1 > ${CMAKE_BINARY_DIR}/man/${page}.1.gz
                     DEPENDS ${CMAKE_BINARY_DIR}/man/${page}.1 VERBATIM)
  list(APPEND man_pages ${CMAKE_BINARY_DIR}/man/${page}.1.gz)
endforeach()
add_custom_target(man_pages ALL DEPENDS ${man_pages})
install(FILES ${man_pages} DESTINATION share/man/man1)

set(CPACK_PACKAGE_NAME zeva-monitor)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR "ZEVA")
set(CPACK_PACKAGE_CONTACT "ZEVA monitor maintainers <zeva-monitor@localhost>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Monitor and record ZEVA5000/5001/5002 temperature controllers")
set(CPACK_PACKAGE_DESCRIPTION
    "Polls the ZEVA temperature controllers on one RS-232/RS-485 bus, shows live temperatures, status\n\
lamps and a trend chart, records readings in a database, and reads and writes the controllers'\n\
parameters. zeva-recorder does the polling and recording without a window, under systemd;\n\
zeva-sim simulates a bus for trials.")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION misc)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
# Linked libraries are found by dpkg-shlibdeps; what Qt loads at run time is named here: the SQLite
# driver (the X11 platform plugin comes with libqt6gui6), and the user tools of the maintainer scripts.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_DEPENDS "libqt6sql6-sqlite, adduser")
# The PostgreSQL driver only where a central database is named (zeva-initdb --central).
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "fonts-wqy-microhei | fonts-noto-cjk, libqt6sql6-psql")
set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA
    ${PROJECT_SOURCE_DIR}/data/debian/postinst ${PROJECT_SOURCE_DIR}/data/debian/prerm
    ${PROJECT_SOURCE_DIR}/data/debian/postrm)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
set(CPACK_STRIP_FILES ON) # the debug information stays in the build
set(CPACK_GENERATOR DEB)
include(CPack)
