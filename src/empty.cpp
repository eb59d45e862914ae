// Placeholder translation unit for targets whose sources are all in static libraries.
