# What a real installation gets, and the Debian packages that carry it (cpack -G DEB): one package
# per install component, so that a headless recorder box does without the GUI and X libraries.
# The programs' own install() calls name their component.

set(CPACK_DEBIAN_PACKAGE_RELEASE 1) # the Debian revision: 1.1-1
set(deb_version ${PROJECT_VERSION}-${CPACK_DEBIAN_PACKAGE_RELEASE})
# Up to 1.0 one package zeva-monitor held every program; the packages that took over its files say so.
set(took_over_from_1_0 "zeva-monitor (<< 1.1)")

# The Debian changelog, compressed as Debian keeps it; made when configuring, so that cpack needs
# no target of its own.
configure_file(data/debian/changelog ${CMAKE_BINARY_DIR}/debian/changelog COPYONLY)
execute_process(COMMAND gzip -9nc ${CMAKE_BINARY_DIR}/debian/changelog
                OUTPUT_FILE ${CMAKE_BINARY_DIR}/debian/changelog.Debian.gz COMMAND_ERROR_IS_FATAL ANY)

set(man_pages)

# zeva_deb_package(<component> <package> SUMMARY <line> DESCRIPTION <line>...
#                  [MAN_PAGES <program>...] [DEPENDS|RECOMMENDS|SUGGESTS|BREAKS|REPLACES <relation>...]
#                  [SCRIPTS <maintainer script in data/debian>...])
# The package of one install component, with its own copyright, changelog and man pages (with the
# version filled in, compressed as Debian keeps them). dpkg-shlibdeps adds the libraries it links.
function(zeva_deb_package component package)
  cmake_parse_arguments(PARSE_ARGV 2 arg "" "SUMMARY"
                        "DESCRIPTION;MAN_PAGES;DEPENDS;RECOMMENDS;SUGGESTS;BREAKS;REPLACES;SCRIPTS")
  string(TOUPPER ${component} c)
  install(FILES ${PROJECT_SOURCE_DIR}/data/debian/copyright ${CMAKE_BINARY_DIR}/debian/changelog.Debian.gz
          DESTINATION share/doc/${package} COMPONENT ${component})

  set(VERSION ${PROJECT_VERSION})
  foreach(page IN LISTS arg_MAN_PAGES)
    set(man ${CMAKE_BINARY_DIR}/man/${page}.1)
    configure_file(${PROJECT_SOURCE_DIR}/data/man/${page}.1 ${man} @ONLY)
    add_custom_command(OUTPUT ${man}.gz COMMAND gzip -9nc ${man} > ${man}.gz DEPENDS ${man} VERBATIM)
    install(FILES ${man}.gz DESTINATION share/man/man1 COMPONENT ${component})
    list(APPEND man_pages ${man}.gz)
  endforeach()
  set(man_pages ${man_pages} PARENT_SCOPE)

  set(CPACK_DEBIAN_${c}_PACKAGE_NAME ${package} PARENT_SCOPE)
  list(JOIN arg_DESCRIPTION "\n" description)
  set(CPACK_DEBIAN_${c}_DESCRIPTION "${arg_SUMMARY}\n${description}" PARENT_SCOPE)
  foreach(field DEPENDS RECOMMENDS SUGGESTS BREAKS REPLACES)
    list(JOIN arg_${field} ", " value)
    set(CPACK_DEBIAN_${c}_PACKAGE_${field} "${value}" PARENT_SCOPE)
  endforeach()
  list(TRANSFORM arg_SCRIPTS PREPEND ${PROJECT_SOURCE_DIR}/data/debian/)
  set(CPACK_DEBIAN_${c}_PACKAGE_CONTROL_EXTRA "${arg_SCRIPTS}" PARENT_SCOPE)
endfunction()

# Linked libraries are found by dpkg-shlibdeps; what Qt loads at run time is named here: the SQLite
# driver (the X11 platform plugin comes with libqt6gui6), and the user tools of the maintainer
# scripts (the central PostgreSQL is reached through libpq, a linked library).
zeva_deb_package(recorder zeva-recorder
  SUMMARY "Record ZEVA5000/5001/5002 temperature controllers without a window"
  DESCRIPTION
    "zeva-recorder polls the ZEVA temperature controllers on one RS-232/RS-485 bus"
    "and records their readings in a database, as the window of zeva-monitor does,"
    "under systemd as the system user zeva in /var/lib/zeva. The unit is installed"
    "but not enabled. zeva-initdb creates the database."
    ""
    "This package needs no GUI or X library, for a station without a screen."
  MAN_PAGES zeva-recorder zeva-initdb
  DEPENDS libqt6sql6-sqlite adduser
  SUGGESTS zeva-tools # zeva-sim, to try it without instruments
  BREAKS ${took_over_from_1_0}
  REPLACES ${took_over_from_1_0}
  SCRIPTS postinst prerm postrm)

zeva_deb_package(monitor zeva-monitor
  SUMMARY "Monitor and configure ZEVA5000/5001/5002 temperature controllers"
  DESCRIPTION
    "Polls the ZEVA temperature controllers on one RS-232/RS-485 bus in a window:"
    "live temperatures, status lamps and a trend chart, the alarm journal, stored"
    "curves, and the controllers' parameters, read and written. It records as"
    "zeva-recorder does, into the same database, and shares its set-up."
  MAN_PAGES zeva-monitor
  DEPENDS "zeva-recorder (= ${deb_version})" libqt6sql6-sqlite
  RECOMMENDS "fonts-wqy-microhei | fonts-noto-cjk" qt6-translations-l10n
  SUGGESTS zeva-tools)

zeva_deb_package(report zeva-report
  SUMMARY "Daily and monthly reports of ZEVA temperature controller stations"
  DESCRIPTION
    "zeva-report writes the report of a day or a month as PDF and XLSX: per"
    "instrument and phase the lowest, highest and mean temperature and the minutes"
    "above the fan and alarm thresholds, the alarms, the parameter writes, the"
    "availability and the fans' running hours, from the station's database or the"
    "central PostgreSQL. A systemd timer, installed but not enabled, writes"
    "yesterday's report into /var/lib/zeva/reports every morning."
  MAN_PAGES zeva-report
  DEPENDS "zeva-recorder (= ${deb_version})" libqt6sql6-sqlite "fonts-wqy-microhei | fonts-noto-cjk"
  SCRIPTS report/postinst report/prerm report/postrm)

zeva_deb_package(web zeva-web
  SUMMARY "Read-only web view of ZEVA temperature controller stations"
  DESCRIPTION
    "zeva-web serves the pages of the stations' web view over the central"
    "PostgreSQL that the stations forward to: a list of the stations, each"
    "station's instruments with their newest readings, updated without a reload,"
    "its readings in buckets, its alarm journal, and Prometheus metrics. Nothing"
    "can be written through it. A systemd unit is installed but not enabled."
  MAN_PAGES zeva-web
  SCRIPTS web/postinst web/prerm web/postrm)

zeva_deb_package(tools zeva-tools
  SUMMARY "Bus simulator for the ZEVA temperature controller programs"
  DESCRIPTION
    "zeva-sim simulates a bus of ZEVA5000/5001/5002 temperature controllers on a"
    "pseudo-terminal, to try zeva-monitor and zeva-recorder without instruments."
  MAN_PAGES zeva-sim
  BREAKS ${took_over_from_1_0}
  REPLACES ${took_over_from_1_0})

add_custom_target(man_pages ALL DEPENDS ${man_pages})

# The window's desktop entry, icons and AppStream metainfo.
install(FILES data/zeva-monitor.desktop DESTINATION share/applications COMPONENT monitor)
install(FILES data/zeva-monitor.svg DESTINATION share/icons/hicolor/scalable/apps COMPONENT monitor)
foreach(size 16 22 24 32 48 64 128 256)
  install(FILES data/icons/hicolor/${size}x${size}/apps/zeva-monitor.png
          DESTINATION share/icons/hicolor/${size}x${size}/apps COMPONENT monitor)
endforeach()
configure_file(data/io.zeva.monitor.metainfo.xml.in ${CMAKE_BINARY_DIR}/data/io.zeva.monitor.metainfo.xml @ONLY)
install(FILES ${CMAKE_BINARY_DIR}/data/io.zeva.monitor.metainfo.xml DESTINATION share/metainfo COMPONENT monitor)

# The recorder's systemd unit, in /usr/lib/systemd/system as in 1.0: a file that changes both its
# package and its directory in one upgrade could be lost on a merged /usr.
install(FILES data/zeva-recorder.service DESTINATION lib/systemd/system COMPONENT recorder)
install(FILES data/zeva-report-daily.service data/zeva-report-daily.timer DESTINATION lib/systemd/system
        COMPONENT report)
install(FILES data/zeva-web.service DESTINATION lib/systemd/system COMPONENT web)

set(CPACK_PACKAGE_NAME zeva-monitor)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR "ZEVA")
set(CPACK_PACKAGE_CONTACT "ZEVA monitor maintainers <packages@zeva.io>")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_DEBIAN_PACKAGE_SOURCE zeva-monitor)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION misc)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
set(CPACK_STRIP_FILES ON) # the debug information stays in the build
set(CPACK_GENERATOR DEB)
include(CPack)
