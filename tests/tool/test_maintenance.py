"""Tests to come."""
