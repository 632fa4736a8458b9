# Installs the build BUILD_DIR into KIT_DIR/prefix and builds the example add-on EXAMPLE_DIR in
# KIT_DIR/sepia against it, the way an author would, with the compiler and build type of the
# build. Whatever KIT_DIR held before goes first.
cmake_minimum_required(VERSION 3.20)

foreach(variable BUILD_DIR KIT_DIR EXAMPLE_DIR GENERATOR CXX_COMPILER LIBDIR)
	if(NOT DEFINED ${variable})
		message(FATAL_ERROR "PrepareKit.cmake: ${variable} is not set")
	endif()
endforeach()

set(prefix "${KIT_DIR}/prefix")
set(example "${KIT_DIR}/sepia")
file(REMOVE_RECURSE "${KIT_DIR}")

execute_process(COMMAND "${CMAKE_COMMAND}" --install "${BUILD_DIR}" --prefix "${prefix}"
	OUTPUT_QUIET COMMAND_ERROR_IS_FATAL ANY)
# Nothing but the prefix may provide the package: no registry, no other prefix.
execute_process(COMMAND "${CMAKE_COMMAND}" -S "${EXAMPLE_DIR}" -B "${example}"
		-G "${GENERATOR}"
		"-DCMAKE_PREFIX_PATH=${prefix}"
		"-DCMAKE_CXX_COMPILER=${CXX_COMPILER}"
		"-DCMAKE_BUILD_TYPE=${BUILD_TYPE}"
		-DCMAKE_FIND_USE_PACKAGE_REGISTRY=OFF
		-DCMAKE_FIND_USE_SYSTEM_PACKAGE_REGISTRY=OFF
	COMMAND_ERROR_IS_FATAL ANY)
file(STRINGS "${example}/CMakeCache.txt" found REGEX "^Quimbel_DIR:")
if(NOT found STREQUAL "Quimbel_DIR:PATH=${prefix}/${LIBDIR}/cmake/Quimbel")
	message(FATAL_ERROR "the example found the package elsewhere: ${found}")
endif()
execute_process(COMMAND "${CMAKE_COMMAND}" --build "${example}" COMMAND_ERROR_IS_FATAL ANY)
