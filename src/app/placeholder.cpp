namespace talvern { void okavelAppPlaceholder() {} }
