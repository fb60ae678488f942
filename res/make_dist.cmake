# Assembles the distribution folder: cmake -DBIN=<programs> -DSOURCE=<tree>
# -DDIST=<folder> -P make_dist.cmake. Copies what the build has made; the
# device library, the driver installer and the sample image are taken when
# they are there.
file(REMOVE_RECURSE "${DIST}")
file(MAKE_DIRECTORY "${DIST}/Language")
file(COPY "${BIN}/DeviceManager.exe" DESTINATION "${DIST}")
# The station program shares the window's folder, settings and languages.
if(EXISTS "${BIN}/qvstation.exe")
  file(COPY "${BIN}/qvstation.exe" DESTINATION "${DIST}")
endif()
if(EXISTS "${BIN}/QVAndroidDLL.dll")
  file(COPY "${BIN}/QVAndroidDLL.dll" DESTINATION "${DIST}")
endif()
# The program starts the installer by this name.
if(EXISTS "${BIN}/DriverSetup.exe")
  file(COPY_FILE "${BIN}/DriverSetup.exe" "${DIST}/DriverSetup.Exe")
endif()
if(IS_DIRECTORY "${BIN}/Driver")
  file(COPY "${BIN}/Driver" DESTINATION "${DIST}")
endif()
# The bench's own tools, so that an installed simulated bench can be changed
# from its folder (they find the bench beside themselves, as the library does).
foreach(tool qvsim.exe qvimage.exe)
  if(EXISTS "${BIN}/${tool}")
    file(COPY "${BIN}/${tool}" DESTINATION "${DIST}")
  endif()
endforeach()
file(GLOB images "${BIN}/*.IMG" "${BIN}/*.img")
foreach(image ${images})
  file(COPY "${image}" DESTINATION "${DIST}")
endforeach()
file(GLOB languages "${SOURCE}/lang/*.ini")
file(COPY ${languages} DESTINATION "${DIST}/Language")
file(COPY "${SOURCE}/res/dist/setting.ini" DESTINATION "${DIST}")
