"""Workload families: every module here is imported by the harness, and registers its
workloads with `@harness.workload("Wn")`."""
